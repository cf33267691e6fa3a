#include "server/web/sign_in_check.h"

#include "server/asio.h"
#include "server/client_key.h"

namespace corvantis::server {
namespace {

SignInCheck::Outcome OutcomeOf(const LoginGate::Answer& answer) {
  switch (answer.outcome) {
    case LoginGate::Outcome::kAccepted:
      return SignInCheck::Outcome::kAccepted;
    case LoginGate::Outcome::kRefused:
      return SignInCheck::Outcome::kRefused;
    default:
      return SignInCheck::Outcome::kThrottled;
  }
}

}  // namespace

void SignInCheck::Check(const std::string& address, const std::string& user, std::string password,
                        std::function<void(Outcome)> done) {
  // Counted under the same key as the alarm port counts the address (an IPv6 host by its /64).
  error_code ec;
  const auto parsed = asio::ip::make_address(address, ec);
  const std::string client = ec ? address : ClientKey(parsed);
  LoginGate::Ticket ticket = 0;
  const auto answer = gate_.Begin(
      client, user, std::move(password), [done](LoginGate::Answer late) { done(OutcomeOf(late)); },
      ticket);
  if (answer) done(OutcomeOf(*answer));
}

}  // namespace corvantis::server
