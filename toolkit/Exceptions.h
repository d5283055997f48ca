// The exception classes of the system. Every failure is an Exception carrying
// the message a user sees.
#pragma once

#include <exception>
#include <functional>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string Msg) : FMessage(std::move(Msg)) {}
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string Msg) { FMessage = std::move(Msg); }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

#define KEST_EXCEPTION(Name, Base) \
  class Name : public Base {       \
   public:                         \
    using Base::Base;              \
  }

// The silent exception: ends an operation without any message being shown.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  using Exception::Exception;
};

KEST_EXCEPTION(EConvertError, Exception);
KEST_EXCEPTION(EInvalidOperation, Exception);
KEST_EXCEPTION(EListError, Exception);
KEST_EXCEPTION(EStreamError, Exception);
KEST_EXCEPTION(EReadError, EStreamError);
KEST_EXCEPTION(EWriteError, EStreamError);
KEST_EXCEPTION(EFOpenError, EStreamError);
KEST_EXCEPTION(EOutOfResources, Exception);
KEST_EXCEPTION(EInvalidGraphic, Exception);
KEST_EXCEPTION(EInvalidGraphicOperation, Exception);

// An operating-system failure with its error code.
class EOSError : public Exception {
 public:
  EOSError(std::string Msg, int Code) : Exception(std::move(Msg)), FErrorCode(Code) {}
  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// Raises EAbort.
[[noreturn]] void Abort();

// Raises EOSError "System Error.  Code: %d.\r\n%s" with the system's text for Code.
[[noreturn]] void RaiseOSError(int Code);

// Where exceptions that leave an event handler go: the application's default
// handler shows them. Until one is set they are written to standard error.
// The silent EAbort is dropped; memory that ran out is reported as the system
// error it is (code 12), not as the library's name for it.
void SetExceptionHandler(std::function<void(const Exception&)> Handler);
// Call from inside a catch block.
void HandleCurrentException();

// Runs an event handler from a place the exception cannot pass (Qt's signal
// and event dispatch): an exception that leaves it goes to the handler above.
template <class F>
void RunGuarded(F&& Fn) {
  try {
    Fn();
  } catch (...) {
    HandleCurrentException();
  }
}
