#pragma once

namespace brellin {

// The routine the render loop calls with its argument before every slice
// (the Sequencer's tick). It runs on the render thread, outside the
// SoundOutput's lock, so it may install another callback or remove itself.
using ClockCallback = void (*)(void* argument);

}  // namespace brellin
