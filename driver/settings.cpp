#include "driver/settings.h"

#include <cstring>

namespace pesolan {
namespace {

bool StoreEquipmentType(ConnectionSettings& s, const ParameterValue& v) {
  if (std::strlen(v.text) > kEquipmentTypeLength) return false;
  std::strncpy(s.equipmentType, v.text, sizeof s.equipmentType - 1);
  return true;
}

bool StoreConnect(ConnectionSettings& s, const ParameterValue& v) {
  if (v.integer != 0 && v.integer != 1) return false;
  s.channel.connType = v.integer == 0 ? 1 : 2;
  return true;
}

bool StoreRsPort(ConnectionSettings& s, const ParameterValue& v) {
  s.channel.rsPort = v.integer;
  return true;
}

// 0: " 9600,n,8,1"; 1: " 9600,Even,7,1".
bool StoreConnAttrs(ConnectionSettings& s, const ParameterValue& v) {
  if (v.integer != 0 && v.integer != 1) return false;
  s.channel.baudRate = 9600;
  s.channel.parity = v.integer == 0 ? 0 : 2;
  s.channel.byteSize = v.integer == 0 ? 8 : 7;
  s.channel.stopBits = 0;
  return true;
}

bool StoreIp(ConnectionSettings& s, const ParameterValue& v) {
  if (std::strlen(v.text) > kIpLength) return false;
  std::strncpy(s.channel.ip, v.text, sizeof s.channel.ip - 1);
  return true;
}

bool StoreTcpPort(ConnectionSettings& s, const ParameterValue& v) {
  s.channel.tcpPort = v.integer;
  return true;
}

bool StoreTimeout(ConnectionSettings& s, const ParameterValue& v) {
  s.timeout = v.integer;
  return true;
}

bool StoreUnit(ConnectionSettings& s, const ParameterValue& v) {
  if (v.integer < 0 || v.integer > 4) return false;
  s.unit = v.integer;
  return true;
}

bool StoreNoStable(ConnectionSettings& s, const ParameterValue& v) {
  if (v.integer != 0 && v.integer != 1) return false;
  s.allowUnstable = static_cast<uint8_t>(v.integer);
  return true;
}

struct Parameter {
  const char16_t* name;
  ParameterKind kind;
  bool (*store)(ConnectionSettings&, const ParameterValue&);
};

constexpr Parameter kParameters[] = {
    {u"EquipmentType", ParameterKind::Text, StoreEquipmentType},
    {u"Prm_Connect", ParameterKind::Integer, StoreConnect},
    {u"Prm_RsPort", ParameterKind::Integer, StoreRsPort},
    {u"Prm_ConnAttrs", ParameterKind::Integer, StoreConnAttrs},
    {u"Prm_IP", ParameterKind::Text, StoreIp},
    {u"Prm_TcpPort", ParameterKind::Integer, StoreTcpPort},
    {u"Prm_Timeout", ParameterKind::Integer, StoreTimeout},
    {u"Prm_Unit", ParameterKind::Integer, StoreUnit},
    {u"Prm_NoStable", ParameterKind::Integer, StoreNoStable},
};
constexpr int kParameterCount = static_cast<int>(sizeof kParameters / sizeof kParameters[0]);

bool SameName(const char16_t* a, const char16_t* b, size_t length) {
  size_t i = 0;
  for (; i < length; ++i) {
    if (a[i] != b[i] || b[i] == 0) return false;
  }
  return b[i] == 0;
}

}  // namespace

int FindParameter(const char16_t* name, size_t length) {
  for (int i = 0; i < kParameterCount; ++i) {
    if (SameName(name, kParameters[i].name, length)) return i;
  }
  return -1;
}

ParameterKind KindOfParameter(int index) { return kParameters[index].kind; }

bool StoreParameter(ConnectionSettings& settings, int index, const ParameterValue& value) {
  if (index < 0 || index >= kParameterCount || !value.valid) return false;
  return kParameters[index].store(settings, value);
}

}  // namespace pesolan
