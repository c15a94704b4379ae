#include "mail/MailStatus.h"

#include <array>

namespace tandrel::mail {

std::string_view MailStatusName(TMailStatus aStatus) noexcept {
    static constexpr std::array<std::string_view, 13> names{
        "pmsStartProcess", "pmsConfigHeaders", "pmsAddingMimeParts", "pmsLoginSMTP",   "pmsStartSends",
        "pmsSendTo",       "pmsSendCC",        "pmsSendBCC",         "pmsSendReplyTo", "pmsSendData",
        "pmsLogoutSMTP",   "pmsDone",          "pmsError",
    };
    const auto index = static_cast<std::size_t>(aStatus);
    return index < names.size() ? names[index] : std::string_view{"?"};
}

}  // namespace tandrel::mail
