#pragma once
// The certificates of the checked https URLs: how many days each has left, the warning while
// one expires within CertWarnDays (a log line and one mail a day per certificate; not an alert,
// the server stays up), and what snxctl probe shows of it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ops/url_outcome.h"

// Whole days from `now` until `expiry` (both Unix seconds); negative once it has passed.
std::int64_t CertDaysLeft(std::int64_t expiry, std::int64_t now);
// "2027-03-01 12:00 UTC"
std::string CertDate(std::int64_t expiry);

// What a probe says of the certificate: why it was refused, or when it expires; nothing for a
// plain http URL.
struct CertView {
  std::string text;
  std::optional<std::int64_t> days_left;
};
CertView ViewCertificate(const CUrlOutcome& outcome, std::int64_t now);

class CCertWatch {
 public:
  // Sends the warning mail (url, days left, date); true when it went out.
  using Mailer = std::function<bool(std::string_view, std::int64_t, std::string_view)>;

  // A checked URL's certificate that expires at `expiry`. While it is within `warn_days` days
  // of it (0: never), at most once in 24 hours per certificate: the warning line, and the mail
  // through `mail` when one is given; a mail that failed is tried again at the next check.
  // `warned` hears of each warning line (the text of the line), for the other channels.
  void Note(std::string_view url, std::int64_t expiry, std::int64_t now, std::int32_t warn_days,
            const Mailer& mail, const std::function<void(const std::string&)>& warned = {});

 private:
  struct Warned {
    std::string url;
    std::int64_t expiry = 0;             // a renewed certificate is another certificate
    std::optional<std::int64_t> logged;  // when the warning line was last written
    std::optional<std::int64_t> mailed;  // when the mail last went out
  };
  std::vector<Warned> m_Warned;
};
