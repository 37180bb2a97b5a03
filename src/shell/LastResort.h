// What the front ends' last-resort handlers say about an exception that reached them.
#pragma once

#include <exception>
#include <string>

namespace brisquell {

/// A sentence for the user naming what went wrong, for an exception no code below handled.
std::string lastResortMessage(std::exception_ptr error);

}  // namespace brisquell
