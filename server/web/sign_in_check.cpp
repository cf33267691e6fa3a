#include "server/web/sign_in_check.h"

#include "server/credentials.h"

namespace corvantis::server {

void SignInCheck::Check(const std::string& client, const std::string& user, std::string password,
                        std::function<void(Outcome)> done) {
  if (throttle_.Blocked(client)) return done(Outcome::kThrottled);
  auto finish = [this, client, done = std::move(done)](bool ok) {
    if (ok) {
      throttle_.RecordSuccess(client);
    } else {
      throttle_.RecordFailure(client);
    }
    done(ok ? Outcome::kAccepted : Outcome::kRefused);
  };
  // A name or password no account can have is refused without a check, and still counted.
  if (UserNameProblem(user) || PasswordProblem(password)) return finish(false);
  if (checker_.CheckRemembered(user, password)) return finish(true);
  checker_.Check(user, std::move(password), std::move(finish));
}

}  // namespace corvantis::server
