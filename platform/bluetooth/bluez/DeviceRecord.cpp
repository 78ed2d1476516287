#include "platform/bluetooth/bluez/DeviceRecord.h"

#include <algorithm>

namespace velmora::platform::bluetooth::bluez {

namespace {

template <class T>
std::optional<T> read(const sdbus::Variant& v) {
  if (!v.containsValueOfType<T>()) return std::nullopt;
  return v.get<T>();
}

std::vector<std::uint8_t> bytesOf(const sdbus::Variant& v) {
  return read<std::vector<std::uint8_t>>(v).value_or(std::vector<std::uint8_t>{});
}

}  // namespace

bool DeviceRecord::apply(const Properties& changed) {
  bool advertised = false;
  for (const auto& [key, value] : changed) {
    if (key == "Address") {
      if (auto s = read<std::string>(value)) address_ = *s;
    } else if (key == "Name") {
      if (auto s = read<std::string>(value)) {
        name_ = *s;
        advertised = true;
      }
    } else if (key == "Alias") {
      if (auto s = read<std::string>(value)) alias_ = *s;
    } else if (key == "RSSI") {
      if (auto n = read<std::int16_t>(value)) {
        rssi_ = *n;
        advertised = true;
      }
    } else if (key == "TxPower") {
      if (auto n = read<std::int16_t>(value)) {
        txPower_ = *n;
        advertised = true;
      }
    } else if (key == "ManufacturerData") {
      auto map = read<std::map<std::uint16_t, sdbus::Variant>>(value);
      if (!map) continue;
      std::map<std::uint16_t, std::vector<std::uint8_t>> next;
      std::optional<std::uint16_t> changedCompany;
      for (const auto& [company, data] : *map) {
        auto bytes = bytesOf(data);
        auto old = manufacturer_.find(company);
        if (!changedCompany && (old == manufacturer_.end() || old->second != bytes)) changedCompany = company;
        next.emplace(company, std::move(bytes));
      }
      manufacturer_ = std::move(next);
      if (changedCompany) latestCompany_ = changedCompany;
      if (latestCompany_ && !manufacturer_.contains(*latestCompany_)) latestCompany_.reset();
      advertised = true;
    } else if (key == "ServiceData") {
      auto map = read<std::map<std::string, sdbus::Variant>>(value);
      if (!map) continue;
      serviceData_.clear();
      for (const auto& [text, data] : *map) {
        if (auto uuid = BluetoothUUID::parse(text)) serviceData_.emplace_back(*uuid, bytesOf(data));
      }
      advertised = true;
    } else if (key == "UUIDs") {
      auto list = read<std::vector<std::string>>(value);
      if (!list) continue;
      uuids_.clear();
      for (const auto& text : *list) {
        if (auto uuid = BluetoothUUID::parse(text)) uuids_.push_back(*uuid);
      }
      advertised = true;
    } else if (key == "Connected") {
      if (auto b = read<bool>(value)) connected_ = *b;
    } else if (key == "ServicesResolved") {
      if (auto b = read<bool>(value)) servicesResolved_ = *b;
    }
  }
  return advertised;
}

void DeviceRecord::invalidate(const std::vector<std::string>& names) {
  for (const auto& key : names) {
    if (key == "RSSI") rssi_.reset();
    if (key == "TxPower") txPower_.reset();
    if (key == "Name") name_.reset();
    if (key == "Alias") alias_.reset();
    if (key == "ManufacturerData") {
      manufacturer_.clear();
      latestCompany_.reset();
    }
    if (key == "ServiceData") serviceData_.clear();
    if (key == "UUIDs") uuids_.clear();
  }
}

std::optional<std::string> DeviceRecord::name() const {
  if (name_) return name_;
  if (!alias_) return std::nullopt;
  std::string disguised = address_.value_or("");
  std::replace(disguised.begin(), disguised.end(), ':', '-');
  if (*alias_ == disguised) return std::nullopt;
  return alias_;
}

AdvertisementData DeviceRecord::advertisement() const {
  AdvertisementData ad;
  ad.localName = name_;
  if (!manufacturer_.empty()) {
    auto it = latestCompany_ ? manufacturer_.find(*latestCompany_) : manufacturer_.begin();
    if (it == manufacturer_.end()) it = manufacturer_.begin();
    Bytes data{static_cast<std::uint8_t>(it->first & 0xFF), static_cast<std::uint8_t>(it->first >> 8)};
    data.insert(data.end(), it->second.begin(), it->second.end());
    ad.manufacturerData = std::move(data);
  }
  for (const auto& [uuid, bytes] : serviceData_) ad.serviceData.emplace_back(uuid, Bytes(bytes.begin(), bytes.end()));
  ad.serviceUUIDs = uuids_;
  ad.txPowerLevel = txPower_;
  return ad;
}

}  // namespace velmora::platform::bluetooth::bluez
