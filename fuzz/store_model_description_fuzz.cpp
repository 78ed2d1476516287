// Reads arbitrary text as the model description a store file keeps in its metadata table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/store/StoreSchema.h"
#include "platform/store/StoreSql.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto model = velmora::platform::store::modelFromDescription(text);
  if (model) {
    // A model read back is sound, describes itself again the same way, and is an additive
    // change of itself; its schema can be written out.
    auto again = velmora::platform::store::modelFromDescription(model->description());
    if (!again || again->hash() != model->hash()) std::abort();
    if (!velmora::platform::store::isAdditiveChange(*model, *again)) std::abort();
    for (const auto& e : model->entities()) (void)velmora::platform::store::createTableStatements(*model, e);
  }
  return 0;
}
