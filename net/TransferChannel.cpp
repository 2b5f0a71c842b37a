#include "net/TransferChannel.h"

#include <cstring>
#include <system_error>
#include <thread>

namespace {

// A body of unknown size gets address space up to this much (or its cap), and at least kSmallestSpace.
// A finished body no longer than kSmallestSpace moves to the heap, so it holds no reservation: copying it
// takes moments, and a 32-bit process has little address space to spare.
const DWORD kLargestSpace = 1u << 30;
const DWORD kSmallestSpace = 16u << 20;

}  // namespace

CTransferChannel::CTransferChannel(CUniqueT<InternetHandleTraits>&& session, CBuffer&& held, bool wantsProgress)
    : wantsProgress(wantsProgress),
      wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      credentialsGiven(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      session(std::move(session)),
      body(std::move(held)),
      received(body.Length()),
      lastActivity(GetTickCount()) {}

bool CTransferChannel::Start(const std::shared_ptr<CTransferChannel>& channel, const WinInetApi& api,
                             const HttpRequestParams& params, CBuffer& held, DWORD& error) {
  error = 0;
  if (!channel->wake || !channel->credentialsGiven) {
    error = GetLastError();
  } else {
    try {
      std::thread(&CTransferChannel::Run, channel, &api, params).detach();
      return true;
    } catch (const std::system_error&) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  held = std::move(channel->body);
  return false;
}

void CTransferChannel::Run(std::shared_ptr<CTransferChannel> self, const WinInetApi* api,
                           HttpRequestParams params) noexcept {
  bool result = false;
  HttpAnswer answer;
  std::exception_ptr failure;
  try {
    CHttpRequest request(*api, params, *self, *self);
    result = request.Run();  // closes the request on every way out
    answer = request.Answer();
    self->ReleaseSpareSpace();
  } catch (...) {
    failure = std::current_exception();
  }
  self->Finish(result, answer, failure);
}

void CTransferChannel::Finish(bool result, const HttpAnswer& answer, std::exception_ptr failure) {
  CUniqueT<InternetHandleTraits> closing;
  {
    std::lock_guard<std::mutex> hold(lock);
    closing = std::move(session);
    outcome.result = result;
    outcome.answer = answer;
    outcome.failure = failure;
    finished = true;
  }
  closing.Reset();
  std::lock_guard<std::mutex> hold(lock);
  Signal();
}

void CTransferChannel::Look(News& news) {
  news.events.clear();
  std::lock_guard<std::mutex> hold(lock);
  signalled = false;
  news.events.swap(events);
  news.received = received;
  news.lastActivity = lastActivity;
  news.finished = finished;
}

// No handle is closed while the worker may still use its number (WinInet hands a freed number to the next
// handle it opens, and the stale worker would read another transfer's answer). Only while the URL is being
// opened, when there is no request yet, is the session closed from here: that ends a pending open where
// the platform allows it, and the worker then touches nothing that came of it.
void CTransferChannel::Abandon() {
  CUniqueT<InternetHandleTraits> closing;
  std::lock_guard<std::mutex> hold(lock);
  abandoned = true;
  if (opening) closing = std::move(session);
  // A worker waiting for the user's proxy password waits no more.
  SetEvent(credentialsGiven.Get());
}

void CTransferChannel::AnswerCredentials(DWORD answer) {
  std::lock_guard<std::mutex> hold(lock);
  credentialAnswer = answer;
  // However long the user took, the line was not silent meanwhile.
  lastActivity = GetTickCount();
  SetEvent(credentialsGiven.Get());
}

// The worker writes into the body only here, under the lock, so the storage can change hands while it
// still waits on its line: a copy would hold the body twice until the stale worker gives up.
void CTransferChannel::TakeHeld(CBuffer& into, DWORD count) {
  std::lock_guard<std::mutex> hold(lock);
  if (handedOver) return;
  into = std::move(body);
  into.SetLength(count < into.Length() ? count : into.Length());
  handedOver = true;
}

CTransferChannel::Outcome CTransferChannel::TakeOutcome() {
  std::lock_guard<std::mutex> hold(lock);
  // The worker is done with everything: the body changes hands without a copy.
  outcome.body = std::move(body);
  handedOver = true;
  return std::move(outcome);
}

void CTransferChannel::Post(Kind kind, DWORD value, const HttpAnswer* answer, HINTERNET request) {
  std::lock_guard<std::mutex> hold(lock);
  events.push_back({kind, value, received, answer ? *answer : HttpAnswer(), request});
  Signal();
}

// Under the lock.
void CTransferChannel::Signal() {
  if (signalled) return;
  signalled = true;
  SetEvent(wake.Get());
}

// A body that ended well inside its reservation moves to the heap, which gives the space back.
void CTransferChannel::ReleaseSpareSpace() {
  std::lock_guard<std::mutex> hold(lock);
  if (!spacious || body.Length() > kSmallestSpace) return;
  CBuffer small;
  if (body.Length() && !small.Assign(body.GetData(), body.Length())) return;  // it stays where it is
  body = std::move(small);
}

HINTERNET CTransferChannel::BeginOpen() {
  std::lock_guard<std::mutex> hold(lock);
  if (abandoned) return nullptr;
  opening = true;
  return session.Get();
}

bool CTransferChannel::EndOpen() {
  std::lock_guard<std::mutex> hold(lock);
  opening = false;
  if (!session) return false;
  lastActivity = GetTickCount();
  return true;
}

bool CTransferChannel::Abandoned() {
  std::lock_guard<std::mutex> hold(lock);
  return abandoned;
}

bool CTransferChannel::AskProxyCredentials(HINTERNET request, DWORD& answer) {
  Post(Kind::ProxyCredentials, 0, nullptr, request);
  WaitForSingleObject(credentialsGiven.Get(), INFINITE);
  std::lock_guard<std::mutex> hold(lock);
  answer = credentialAnswer;
  return !abandoned;
}

void CTransferChannel::Active() {
  std::lock_guard<std::mutex> hold(lock);
  lastActivity = GetTickCount();
}

DWORD CTransferChannel::Held() {
  std::lock_guard<std::mutex> hold(lock);
  return body.Length();
}

void CTransferChannel::Restart() {
  std::lock_guard<std::mutex> hold(lock);
  body.SetLength(0);
  received = 0;
}

bool CTransferChannel::Reserve(DWORD bytes) {
  std::lock_guard<std::mutex> hold(lock);
  return body.Reserve(bytes);
}

bool CTransferChannel::ReserveAddressSpace(DWORD largest) {
  std::lock_guard<std::mutex> hold(lock);
  if (body.Data()) return false;  // a resumed body keeps the storage it has
  for (DWORD space = largest ? largest : kLargestSpace; space >= kSmallestSpace; space /= 2) {
    if ((spacious = body.ReserveAddressSpace(space))) return true;
  }
  return false;
}

bool CTransferChannel::Append(const uint8_t* bytes, DWORD count) {
  std::lock_guard<std::mutex> hold(lock);
  const DWORD held = body.Length();
  if (abandoned || !body.Reserve(count)) return false;
  memcpy(body.Data() + held, bytes, count);
  body.SetLength(held + count);
  received = body.Length();
  lastActivity = GetTickCount();
  // Without anybody shown the progress, a read need not wake the caller.
  if (wantsProgress) Signal();
  return true;
}
