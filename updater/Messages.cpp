#include "Messages.h"

#include <ostream>

namespace calmora::update {

void ConsoleMessenger::Show(std::string_view text) { out_ << text << std::endl; }

void ConsoleMessenger::ShowError(std::string_view report)
{
    Show(report);
    err_ << report << std::endl;
}

}  // namespace calmora::update
