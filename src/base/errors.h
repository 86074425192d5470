// Our error types. Expected failures are answers; these are for the unexpected ones, which pass
// every level and are printed once by the front end as "wrong:" + type name + ": " + message.
#pragma once

#include <stdexcept>
#include <string>

namespace halyard {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    virtual const char* typeName() const noexcept { return "Error"; }
};

#define HALYARD_ERROR_TYPE(Name)                                                                   \
    class Name : public Error {                                                                    \
    public:                                                                                        \
        using Error::Error;                                                                        \
        const char* typeName() const noexcept override { return #Name; }                           \
    }

// A file that cannot be opened: "Cannot open file "%s". %s".
HALYARD_ERROR_TYPE(EFOpenError);
// A file that cannot be created: "Cannot create file "%s". %s".
HALYARD_ERROR_TYPE(EFCreateError);
// A read or write that failed on an open file.
HALYARD_ERROR_TYPE(EReadError);
HALYARD_ERROR_TYPE(EWriteError);
// A folder that cannot be listed, created or deleted.
HALYARD_ERROR_TYPE(EInOutError);
// Writing through the private-profile service failed.
HALYARD_ERROR_TYPE(EIniFileException);
// The 7-Zip binding's errors.
HALYARD_ERROR_TYPE(ESevenZipException);
// A platform call failed in a way nobody expects.
HALYARD_ERROR_TYPE(EOSError);

#undef HALYARD_ERROR_TYPE

// The error being handled (call inside a catch block) as the front end reports it after
// "wrong:": "<type name>: <message>" for ours, "EOutOfMemory: Out of memory", "Exception: "
// and the message for any other.
std::string DescribeCurrentError();

} // namespace halyard
