#pragma once
// The driver's messages, word for word as the platform's users read them,
// by driver error number: the one table the tests compare with. The driver
// keeps them in Windows-1251 and hands them to the host in UTF-16; here
// they are UTF-8, and in UTF-16 for the host's side.

#include <cstdint>
#include <string>

namespace testing_support {

// The message of driver error number 101..110; empty for any other.
inline std::string Message(int number) {
  switch (number) {
    case 101: return "Ограничение по количеству экземпляров класса: не более 256.";
    case 102: return "Ошибка настроек канала связи.";
    case 103: return "В системе нет ни одного последовательного порта RS-232.";
    case 104: return "Ошибка открытия порта RS-232.";
    case 105: return "Ошибка подключения клиента TCP.";
    case 106: return "Нет данных от весов.";
    case 108: return "Обнаружены неизвестные данные.";
    case 109: return "Установка тары не поддерживается.";
    case 110: return "Текущий вес нестабилен.";
    default: return "";
  }
}

// The same in UTF-16 (the messages hold no character beyond two UTF-8 bytes).
inline std::u16string Message16(int number) {
  const std::string utf8 = Message(number);
  std::u16string text;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<uint8_t>(utf8[i]);
    if (byte < 0x80 || i + 1 == utf8.size()) {
      text += static_cast<char16_t>(byte);
    } else {
      text += static_cast<char16_t>(((byte & 0x1F) << 6) | (static_cast<uint8_t>(utf8[++i]) & 0x3F));
    }
  }
  return text;
}

}  // namespace testing_support
