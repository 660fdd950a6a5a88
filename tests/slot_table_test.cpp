// The slot table, the error codes with their messages, and the rules by which
// a device's error is recorded, reported and cleared.

#include <gtest/gtest.h>

#include <cstring>

#include "channel/device_errors.h"
#include "channel/slot_table.h"
#include "support/text.h"
#include "support/messages.h"

using namespace pesolan;
using testing_support::Cp1251ToUtf8;
using testing_support::Message;

namespace {

class SlotTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSlotTable(); }
  void TearDown() override { ResetSlotTable(); }
  // Claims a slot for the handle the way Connect does, without a channel.
  static int Claim(const DeviceHandle& h) {
    const int index = FindSlot(0);
    SlotTable[index].key = h.key;
    SlotTable[index].ready = true;  // so that releasing the handle does not wait
    return index;
  }
};

TEST_F(SlotTableTest, LowestFreeSlotIsFoundFirstAndKeysFindTheirSlot) {
  SlotTable[0].key = 11;
  SlotTable[2].key = 12;
  EXPECT_EQ(FindSlot(0), 1);
  EXPECT_EQ(FindSlot(12), 2);
  EXPECT_EQ(FindSlot(13), -1);
  for (DeviceSlot& slot : SlotTable) slot.key = 99;
  EXPECT_EQ(FindSlot(0), -1) << "a 257th device has no slot";
}

TEST_F(SlotTableTest, HandleKeysAreNonzeroAndDistinct) {
  DeviceHandle a, b, c;
  EXPECT_NE(a.key, 0);
  EXPECT_NE(a.key, b.key);
  EXPECT_NE(b.key, c.key);
  EXPECT_NE(a.key, c.key);
  EXPECT_EQ(a.lastError, NoError);
}

TEST_F(SlotTableTest, NewDeviceReportsNoErrorEmptyMessageAndNumberZero) {
  DeviceHandle h;
  char message[kMessageSize];
  std::memset(message, 'x', sizeof message);
  int32_t number = -1;
  EXPECT_EQ(GetError(h, message, &number), NoError);
  EXPECT_STREQ(message, "");
  EXPECT_EQ(number, 0);
  EXPECT_EQ(GetError(h), NoError) << "both outputs may be absent";
}

TEST_F(SlotTableTest, FirstRecordedErrorWins) {
  DeviceHandle h;
  const int index = Claim(h);
  RecordError(h, No_Data_From_Scale);
  RecordError(h, Weight_Not_Stable);
  EXPECT_EQ(GetError(h), No_Data_From_Scale);
  EXPECT_EQ(SlotTable[index].errorCode, No_Data_From_Scale);
  EXPECT_EQ(h.lastError, No_Data_From_Scale);
}

TEST_F(SlotTableTest, ClearErrorClearsOnlyTheCodeThatIsReported) {
  DeviceHandle h;
  const int index = Claim(h);
  RecordError(h, No_Data_From_Scale);
  ClearError(h, Port_Open_Error);
  EXPECT_EQ(GetError(h), No_Data_From_Scale);
  ClearError(h, No_Data_From_Scale);
  EXPECT_EQ(GetError(h), NoError);
  EXPECT_EQ(SlotTable[index].errorCode, NoError);
  EXPECT_EQ(h.lastError, NoError);
  RecordError(h, Weight_Not_Stable);
  EXPECT_EQ(GetError(h), Weight_Not_Stable) << "after a clear, a new error can be recorded";
}

TEST_F(SlotTableTest, SlotCodeIsWhatGetErrorReportsWhileTheGuardStays) {
  DeviceHandle h;
  Claim(h);
  RecordUnknownData(h);  // the exchange's code lives in the slot only
  EXPECT_EQ(GetError(h), Unknown_Data);
  EXPECT_EQ(h.lastError, NoError);
  RecordError(h, No_Data_From_Scale);  // the guard is still clear: 6 replaces 8
  EXPECT_EQ(GetError(h), No_Data_From_Scale);
  ClearUnknownData(h);
  EXPECT_EQ(GetError(h), No_Data_From_Scale) << "only an 8 is cleared as unknown data";
}

TEST_F(SlotTableTest, UnknownDataIsRecordedOnlyOverNoErrorAndClearedOnlyFrom8) {
  DeviceHandle h;
  const int index = Claim(h);
  RecordTcpConnectError(h);
  RecordUnknownData(h);
  EXPECT_EQ(GetError(h), Tcp_Connect_Error) << "a pending code stays";
  ClearTcpConnectError(h);
  EXPECT_EQ(GetError(h), NoError);
  EXPECT_EQ(h.lastError, NoError) << "the TCP code never reaches the guard";
  RecordUnknownData(h);
  EXPECT_EQ(SlotTable[index].errorCode, Unknown_Data);
  ClearTcpConnectError(h);
  EXPECT_EQ(GetError(h), Unknown_Data) << "only a 5 is cleared as a TCP failure";
  ClearUnknownData(h);
  EXPECT_EQ(GetError(h), NoError);
}

TEST_F(SlotTableTest, PortOpenAndTareErrorsShowInTheSlotWhateverTheGuardHolds) {
  DeviceHandle h;
  const int index = Claim(h);
  h.lastError = No_Serial_Ports;  // a code the guard kept while the slot shows none
  RecordPortOpenError(h);
  EXPECT_EQ(SlotTable[index].errorCode, Port_Open_Error);
  EXPECT_EQ(h.lastError, No_Serial_Ports) << "the first recorded error still wins in the guard";
  DeviceHandle fresh;
  Claim(fresh);
  RecordTareNotSupported(fresh);
  EXPECT_EQ(GetError(fresh), Tare_Not_Supported);
  EXPECT_EQ(fresh.lastError, Tare_Not_Supported);
}

TEST_F(SlotTableTest, DeviceWithoutSlotAnswersFromItsHandle) {
  DeviceHandle h;
  RecordError(h, Too_Many_Instances);
  int32_t number = 0;
  EXPECT_EQ(GetError(h, nullptr, &number), Too_Many_Instances);
  EXPECT_EQ(number, 101);
  ClearError(h, Too_Many_Instances);
  EXPECT_EQ(GetError(h), NoError);
}

TEST_F(SlotTableTest, EveryCodeHasItsMessageAndDriverErrorNumber) {
  for (const int32_t code : {1, 2, 3, 4, 5, 6, 8, 9, 10}) {
    DeviceHandle h;
    RecordError(h, code);
    char message[kMessageSize];
    int32_t number = 0;
    EXPECT_EQ(GetError(h, message, &number), code);
    EXPECT_EQ(Cp1251ToUtf8(message), Message(100 + code)) << "code " << code;
    EXPECT_EQ(number, 100 + code);
  }
}

TEST_F(SlotTableTest, CodesWithoutARowHaveNoMessageAndNumberZero) {
  for (int32_t code : {0, 7, 11, -1, 1000}) {
    DeviceHandle h;
    h.lastError = code;
    char message[kMessageSize] = "stale";
    int32_t number = -1;
    EXPECT_EQ(GetError(h, message, &number), code) << "the code itself is returned";
    EXPECT_STREQ(message, "");
    EXPECT_EQ(number, 0);
  }
}

}  // namespace
