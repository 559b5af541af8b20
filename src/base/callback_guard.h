// The edge between C code that calls back into the program (GLib's main loop and
// sources, GTK's signals, WebKit, libcurl) and the program's own code. No exception may
// unwind through the C frames below a callback: each callback runs its body through
// Guarded, which reports an exception on standard error and hands the C caller a fixed
// result in place of the body's.
#ifndef LUMORA_BASE_CALLBACK_GUARD_H_
#define LUMORA_BASE_CALLBACK_GUARD_H_

#include <cstdio>
#include <exception>
#include <utility>

namespace base {

// Runs |body| and returns its result; when it throws, reports the exception with
// |where| (the callback's name) and returns |on_exception|.
template <typename Result, typename Body>
Result Guarded(const char* where, Result on_exception, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumora: %s: %s\n", where, e.what());
  } catch (...) {
    std::fprintf(stderr, "lumora: %s: unknown exception\n", where);
  }
  return on_exception;
}

// The same for a body without a result.
template <typename Body>
void Guarded(const char* where, Body&& body) noexcept {
  Guarded(where, false, [&body] {
    std::forward<Body>(body)();
    return true;
  });
}

}  // namespace base

#endif  // LUMORA_BASE_CALLBACK_GUARD_H_
