// What the stop signals' set-up on Linux needs of the keyboard: the handler that
// applies the keyboard mode again after a continue.
#pragma once

namespace imutap {

extern "C" void on_continue(int);

} // namespace imutap
