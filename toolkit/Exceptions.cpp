#include "toolkit/Exceptions.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "toolkit/SysUtils.h"

namespace {
std::function<void(const Exception&)>& Handler() {
  static std::function<void(const Exception&)> H;
  return H;
}

void Report(const Exception& E) {
  if (Handler())
    Handler()(E);
  else
    std::fprintf(stderr, "%s\n", E.Message().c_str());
}

EOSError OSError(int Code) {
  return EOSError(Format("System Error.  Code: %d.\r\n%s", {Code, SysErrorMessage(Code)}), Code);
}

}  // namespace

void RaiseOSError(int Code) { throw OSError(Code); }

void SetExceptionHandler(std::function<void(const Exception&)> H) { Handler() = std::move(H); }

void HandleCurrentException() {
  try {
    throw;
  } catch (const EAbort&) {
  } catch (const Exception& E) {
    Report(E);
  } catch (const std::bad_alloc&) {
    Report(OSError(ENOMEM));
  } catch (const std::exception& E) {
    Report(Exception(E.what()));
  }
}
