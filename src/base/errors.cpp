#include "base/errors.h"

#include <exception>
#include <new>

namespace halyard {

std::string DescribeCurrentError() {
    try {
        throw;
    } catch (const Error& e) {
        return std::string(e.typeName()) + ": " + e.what();
    } catch (const std::bad_alloc&) {
        return "EOutOfMemory: Out of memory";
    } catch (const std::exception& e) {
        return std::string("Exception: ") + e.what();
    } catch (...) {
        return "Exception: unknown error";
    }
}

} // namespace halyard
