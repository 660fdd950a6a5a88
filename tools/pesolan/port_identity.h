#pragma once
// What a serial port is: a USB adapter (its ids, maker, product and serial
// number), a built-in UART (its type), or what Windows calls it. For the
// person looking for the scale's port.

#include <string>

namespace host {

struct PortIdentity {
  std::string kind;  // "usb", "uart", "" when the system does not say
  std::string vendorId, productId, manufacturer, product, serial;  // USB
  std::string byId;   // Linux: its name under /dev/serial/by-id
  std::string uart;   // a built-in port's UART type: "16550A"
  std::string friendlyName, hardwareId;  // Windows: the Ports device class

  // "USB 0403:6001 FTDI FT232R USB UART, serial A50285BI"; "" when unknown.
  std::string Text() const;
  // ",\"identity\":{...}" for the JSON of a port; "" when unknown.
  std::string Json() const;
};

// Linux: device is the node (/dev/ttyUSB0); sysfs and byIdDir are where the
// kernel's tree and the by-id links are (other roots in tests).
PortIdentity IdentifyPort(const std::string& device, const std::string& sysfs = "/sys",
                          const std::string& byIdDir = "/dev/serial/by-id");

}  // namespace host
