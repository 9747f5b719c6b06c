#include "nuv/Nuv.Exceptions.h"

#include "nuv/Nuv.Strings.h"

Exception::Exception(std::u16string message) : FMessage(std::move(message)), FWhat(ToUtf8(FMessage)) {}

std::u16string ExceptionMessage(const std::exception& e) {
    if (auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return FromUtf8(e.what());
}
