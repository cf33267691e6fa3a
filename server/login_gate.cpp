#include "server/login_gate.h"

#include "server/credentials.h"

namespace corvantis::server {

LoginGate::LoginGate(LoginThrottle& throttle, PasswordChecker& checker, Limits limits)
    : throttle_(throttle), checker_(checker), queue_(limits.perClient, limits.waiting) {
  const int threads = std::max(1, limits.threads);
  // With more than one thread, the first checks only clients known to their account: a
  // camera the server knows never waits for a guess from elsewhere to finish.
  for (int i = 0; i < threads; ++i) {
    const int lastLane = i == 0 && threads > 1 ? 0 : 1;
    threads_.emplace_back([this, lastLane] { Work(lastLane); });
  }
}

LoginGate::~LoginGate() {
  Stop();
}

void LoginGate::Stop() {
  queue_.Stop();
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

std::optional<LoginGate::Answer> LoginGate::Begin(const std::string& client,
                                                  const std::string& user, std::string password,
                                                  Done done, Ticket& ticket) {
  // No account can have a name or a password outside the rules (they are no secret): such
  // an attempt fails without a check, and counts for the client alone.
  if (UserNameProblem(user) || PasswordProblem(password)) {
    const auto verdict = throttle_.Admit(client, "");
    if (verdict == LoginThrottle::Verdict::kThrottled) return Answer{Outcome::kThrottled, {}};
    if (verdict == LoginThrottle::Verdict::kTooManyAtOnce) {
      return Answer{Outcome::kTooManyAtOnce, {}};
    }
    throttle_.Finish(client, "", LoginThrottle::Result::kFailed, false);
    return Answer{Outcome::kRefused, {}};
  }
  bool known = false;
  switch (throttle_.Admit(client, user, LoginThrottle::Clock::now(), &known)) {
    case LoginThrottle::Verdict::kThrottled:
      return Answer{Outcome::kThrottled, {}};
    case LoginThrottle::Verdict::kTooManyAtOnce:
      return Answer{Outcome::kTooManyAtOnce, {}};
    case LoginThrottle::Verdict::kAdmitted:
      break;
  }
  // Every upload logs in again: a password verified a moment ago is answered here.
  if (auto stamp = checker_.Remembered(user, password)) {
    throttle_.Finish(client, user, LoginThrottle::Result::kSucceeded, true);
    return Answer{Outcome::kAccepted, std::move(*stamp)};
  }
  return Queue(known, client, user, std::move(password), std::move(done), ticket);
}

std::optional<LoginGate::Answer> LoginGate::Queue(bool known, const std::string& client,
                                                  const std::string& user, std::string password,
                                                  Done done, Ticket& ticket) {
  ticket = nextTicket_++;
  // A client known to the account goes in the lane served first.
  const auto pushed = queue_.Push(known ? 0 : 1, client, ticket,
                                  Check{client, user, std::move(password), std::move(done)});
  if (pushed == FairQueue<Check>::Pushed::kQueued) return std::nullopt;
  throttle_.Finish(client, user, LoginThrottle::Result::kDropped, false);
  return Answer{
      pushed == FairQueue<Check>::Pushed::kClientFull ? Outcome::kTooManyAtOnce : Outcome::kBusy,
      {}};
}

void LoginGate::Cancel(Ticket ticket) {
  std::optional<Check> check = queue_.Cancel(ticket);
  if (!check) return;
  // Dropped: the attempt is no longer in hand, and fails nothing.
  throttle_.Finish(check->client, check->user, LoginThrottle::Result::kDropped, false);
}

bool LoginGate::StillValid(const std::string& user, const std::string& stamp) {
  const auto current = checker_.Stamp(user);
  return current && *current == stamp;
}

void LoginGate::Work(int lastLane) {
  while (auto next = queue_.Pop(lastLane)) {
    const std::string& client = next->client;
    Check& check = next->item;
    PasswordChecker::Verdict verdict;
    try {
      verdict = checker_.Verify(check.user, check.password);
    } catch (const std::exception&) {
      verdict = {};  // no memory for argon2id: refuse this login, keep serving
    }
    throttle_.Finish(
        client, check.user,
        verdict.ok ? LoginThrottle::Result::kSucceeded : LoginThrottle::Result::kFailed,
        verdict.accountExists);
    queue_.Done(*next);
    check.done(verdict.ok ? Answer{Outcome::kAccepted, std::move(verdict.stamp)}
                          : Answer{Outcome::kRefused, {}});
  }
}

LoginRefusal DescribeRefusal(LoginGate::Outcome outcome) {
  switch (outcome) {
    case LoginGate::Outcome::kThrottled:
      return {"300 Too many failed logins; try again later.", "throttled"};
    case LoginGate::Outcome::kTooManyAtOnce:
      return {"300 Too many logins at once; try again later.", "throttled"};
    case LoginGate::Outcome::kBusy:
      return {"300 Server busy; try again later.", "busy"};
    default:
      return {"300 Login incorrect.", "login refused"};
  }
}

}  // namespace corvantis::server
