#include "port_identity.h"

#include "utf.h"

namespace host {

std::string PortIdentity::Text() const {
  std::string t;
  if (kind == "usb") {
    t = "USB " + vendorId + ":" + productId;
    for (const std::string* part : {&manufacturer, &product}) {
      if (!part->empty()) t += " " + *part;
    }
    if (!serial.empty()) t += ", serial " + serial;
  } else if (kind == "uart") {
    t = "built-in UART " + uart;
  }
  if (!friendlyName.empty()) t += (t.empty() ? "" : ", ") + friendlyName;
  if (!hardwareId.empty()) t += " [" + hardwareId + "]";
  return t;
}

std::string PortIdentity::Json() const {
  if (kind.empty() && friendlyName.empty() && hardwareId.empty()) return "";
  std::string j;
  const std::pair<const char*, const std::string*> fields[] = {
      {"kind", &kind},       {"vendor_id", &vendorId}, {"product_id", &productId},       {"manufacturer", &manufacturer},
      {"product", &product}, {"serial", &serial},      {"by_id", &byId},                 {"uart", &uart},
      {"friendly_name", &friendlyName},                 {"hardware_id", &hardwareId}};
  for (const auto& f : fields) {
    if (!f.second->empty()) j += std::string(j.empty() ? "" : ",") + "\"" + f.first + "\":" + JsonString(Utf16(*f.second));
  }
  return ",\"identity\":{" + j + "}";
}

}  // namespace host
