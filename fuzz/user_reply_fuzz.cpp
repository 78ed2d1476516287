// Feeds arbitrary bytes to the decoders of the user account replies, the status reply with
// its date rule, and to the date rule alone as a date text. Nothing may crash; a date the
// rule accepts must be one of the instants the formats can denote.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "parking/user_api/AuthTokenResult.h"
#include "parking/user_api/CreateUserResult.h"
#include "parking/service/DateDecoding.h"
#include "parking/user_api/DetailResult.h"
#include "parking/user_api/LoginResult.h"
#include "parking/user_api/StatusResult.h"
#include "parking/user_api/UpdateResult.h"
#include "parking/user_api/UserResult.h"

namespace {

template <class R>
void decodeAs(std::string_view text, const velmora::DateRule* dates = nullptr) {
  velmora::platform::Error error;
  auto record = velmora::decodeRecordJSON<R>(text, &error, dates);
  // A failed decode always says why.
  if (!record && error.domain.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  decodeAs<velmora::LoginResult>(text);
  decodeAs<velmora::AuthTokenResult>(text);
  decodeAs<velmora::UserResult>(text);
  decodeAs<velmora::UpdateResult>(text);
  decodeAs<velmora::CreateUserResult>(text);
  decodeAs<velmora::DetailResult>(text);
  decodeAs<velmora::StatusResult>(text, &velmora::statusDateRule());

  velmora::platform::Error error;
  auto date = velmora::statusDateRule()(velmora::platform::Value(std::string(text)), "entryTime", &error);
  if (!date && error.debugDescription() != "Cannot decode date string " + std::string(text)) std::abort();
  return 0;
}
