// Compiled by the layering check in tests/CMakeLists.txt with the include path every module
// outside the trust engine has: reaching an engine's private header through it must not compile.
#include "trust/src/der.h"

int main() {
    return 0;
}
