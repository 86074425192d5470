// Included first by every header of this folder: the engine's internals are for the engine and
// its tests (the targets that link halyard_trust_internals); everyone else includes
// "halyard/trust/parse.h" or "halyard/trust/verify.h".
#pragma once

#ifndef HALYARD_TRUST_INTERNALS
#error "a private header of the trust engine: include halyard/trust/parse.h or verify.h instead"
#endif
