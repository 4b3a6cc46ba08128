#include <tessel/error.h>

#include <tessel/host.h>

namespace tessel {

ComError::ComError(int32_t number, std::string source, std::string description, std::string helpFile,
                   int32_t helpContext, std::string detail)
    : Number(number),
      Source(std::move(source)),
      Description(std::move(description)),
      HelpFile(std::move(helpFile)),
      HelpContext(helpContext),
      Detail(std::move(detail)) {}

std::string RuntimeErrorText(int32_t number) {
    switch (number) {
    case kErrInvalidProcedureCall: return "Invalid procedure call or argument";
    case kErrOverflow: return "Overflow";
    case kErrOutOfMemory: return "Out of memory";
    case kErrSubscriptOutOfRange: return "Subscript out of range";
    case kErrTypeMismatch: return "Type mismatch";
    case kErrCannotCreateObject: return "Cannot create object";
    default: return "Application-defined or object-defined error";
    }
}

void RaiseRuntimeError(int32_t number, std::string description) {
    if (description.empty()) description = RuntimeErrorText(number);
    RaiseError(number, kRuntimeSource, description);
}

}  // namespace tessel
