// What passes between a loader and the worker that runs its request: the worker's reports as events that
// carry their values, the body, and the end. The only code with a lock; everything either side reads of
// the other it gets from here, under it. Shared by both sides, so a worker whose caller gave up finishes
// with its own state and never touches the caller's.
#pragma once

#include <windows.h>

#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "net/HttpRequest.h"
#include "support/Buffer.h"
#include "support/Handle.h"

class CTransferChannel final : private IRequestObserver, private IBodySink {
 public:
  enum class Kind { Error, Headers, BodyEnd, ProxyCredentials };
  struct Event {
    Kind kind;
    DWORD value;  // Error: the code; BodyEnd: 1 when the body ended by itself, 0 when the cap cut it
    DWORD received;  // body bytes held when it happened
    HttpAnswer answer;  // Headers: the answer, its body to follow
    HINTERNET request;  // ProxyCredentials: the request to ask about, valid until AnswerCredentials
  };
  // What the caller learns at one look.
  struct News {
    std::vector<Event> events;  // since the last look
    DWORD received = 0;
    DWORD lastActivity = 0;  // GetTickCount when the last bytes (or the answer) arrived
    bool finished = false;
  };
  // How the worker ended: its result, the answer, the body (which changes hands here) and what it threw.
  struct Outcome {
    bool result = false;
    HttpAnswer answer;
    CBuffer body;
    std::exception_ptr failure;
  };

  // held: a resumed body's first bytes. wantsProgress false: each read need not wake the caller.
  CTransferChannel(CUniqueT<InternetHandleTraits>&& session, CBuffer&& held, bool wantsProgress);
  CTransferChannel(const CTransferChannel&) = delete;
  CTransferChannel& operator=(const CTransferChannel&) = delete;

  // Starts the worker that runs the request. False with the error when it cannot start; the held bytes are
  // then given back.
  static bool Start(const std::shared_ptr<CTransferChannel>& channel, const WinInetApi& api,
                    const HttpRequestParams& params, CBuffer& held, DWORD& error);

  // Set when there is news for the caller.
  HANDLE Wake() const { return wake.Get(); }
  // Takes the news; what the worker adds from now on sets Wake again.
  void Look(News& news);
  // The caller gives up; the worker stops at its next step and closes its own handles.
  void Abandon();
  // The user's answer to the proxy's question, for the worker waiting for it.
  void AnswerCredentials(DWORD answer);
  // After Abandon: the first `count` bytes the worker holds (at most what it has) move to `into` without a
  // copy, unless the body has changed hands already.
  void TakeHeld(CBuffer& into, DWORD count);
  // Once Look said finished.
  Outcome TakeOutcome();

 private:
  static void Run(std::shared_ptr<CTransferChannel> self, const WinInetApi* api, HttpRequestParams params) noexcept;
  void Finish(bool result, const HttpAnswer& answer, std::exception_ptr failure);
  void Post(Kind kind, DWORD value, const HttpAnswer* answer = nullptr, HINTERNET request = nullptr);
  void Signal();
  void ReleaseSpareSpace();

  // The worker's side.
  HINTERNET BeginOpen() override;
  bool EndOpen() override;
  bool Abandoned() override;
  void Failed(DWORD error) override { Post(Kind::Error, error); }
  void Answered(const HttpAnswer& answer) override { Post(Kind::Headers, answer.contentLength, &answer); }
  bool AskProxyCredentials(HINTERNET request, DWORD& answer) override;
  void Active() override;
  void BodyEnded(bool complete) override { Post(Kind::BodyEnd, complete ? 1 : 0); }
  DWORD Held() override;
  void Restart() override;
  bool Reserve(DWORD bytes) override;
  bool ReserveAddressSpace(DWORD largest) override;
  bool Append(const uint8_t* bytes, DWORD count) override;

  const bool wantsProgress;
  const CHandle wake;
  const CHandle credentialsGiven;  // set when the caller has asked the user, or gave up

  std::mutex lock;
  // Everything below is under the lock.
  std::vector<Event> events;
  size_t taken = 0;  // events the caller has seen
  bool signalled = false;
  bool abandoned = false;
  DWORD credentialAnswer = 0;
  // The session is the worker's to close, unless the caller closes it during the open (see Abandon).
  CUniqueT<InternetHandleTraits> session;
  bool opening = false;  // the worker is in (or about to enter) the open
  CBuffer body;
  bool spacious = false;  // the body lies in address space reserved for it
  bool handedOver = false;  // the body has moved to the caller
  DWORD received = 0;
  DWORD lastActivity;
  bool finished = false;
  Outcome outcome;  // set with `finished`
};
