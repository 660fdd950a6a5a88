#include "channel/device_handle.h"

#include "channel/connect.h"
#include "channel/slot_table.h"

namespace pesolan {

DeviceHandle::DeviceHandle() : key(TakeKey()) {}

DeviceHandle::~DeviceHandle() { Disconnect(*this); }

}  // namespace pesolan
