#pragma once

#include <string_view>

namespace tandrel::mail {

/// The steps of building and sending a mail, reported to `OnMailProcess` in this order.
/// `pmsSendReplyTo` exists for completeness: no send reports it.
enum class TMailStatus {
    pmsStartProcess,
    pmsConfigHeaders,
    pmsAddingMimeParts,
    pmsLoginSMTP,
    pmsStartSends,
    pmsSendTo,
    pmsSendCC,
    pmsSendBCC,
    pmsSendReplyTo,
    pmsSendData,
    pmsLogoutSMTP,
    pmsDone,
    pmsError,
};

/// The step's own name ("pmsSendTo"); "?" for a value outside the enumeration.
std::string_view MailStatusName(TMailStatus aStatus) noexcept;

}  // namespace tandrel::mail
