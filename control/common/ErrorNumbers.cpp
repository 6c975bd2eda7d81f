#include "ErrorNumbers.h"

namespace calmora::err {

std::string Description(int number) {
    switch (number) {
    case InvalidProcedureCall: return "Invalid procedure call or argument";
    case Overflow: return "Overflow";
    case TypeMismatch: return "Type mismatch";
    case FileNotFound: return "File not found";
    case ObjectNotSet: return "Object variable not set";
    case InvalidUseOfNull: return "Invalid use of Null";
    case MemberNotFound: return "Object doesn't support this property or method";
    case WrongArgumentCount: return "Wrong number of arguments or invalid property assignment";
    case InvalidPicture: return "Invalid picture";
    case NoCurrentRecord: return "No current record.";
    case ItemNotFound: return "Item not found in this collection.";
    case ObjectClosed: return "Object invalid or no longer set.";
    default: return "Application-defined or object-defined error";
    }
}

void Raise(int number) { throw RuntimeError(number, Description(number)); }

void Raise(int number, std::string description) { throw RuntimeError(number, std::move(description)); }

}  // namespace calmora::err
