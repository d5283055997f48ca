#include "toolkit/Exceptions.h"

#include <cstdio>

namespace {
std::function<void(const Exception&)>& Handler() {
  static std::function<void(const Exception&)> H;
  return H;
}
}  // namespace

void SetExceptionHandler(std::function<void(const Exception&)> H) { Handler() = std::move(H); }

void HandleCurrentException() {
  try {
    throw;
  } catch (const EAbort&) {
  } catch (const Exception& E) {
    if (Handler())
      Handler()(E);
    else
      std::fprintf(stderr, "%s\n", E.Message().c_str());
  } catch (const std::exception& E) {
    const Exception Wrapped(E.what());
    if (Handler())
      Handler()(Wrapped);
    else
      std::fprintf(stderr, "%s\n", E.what());
  }
}
