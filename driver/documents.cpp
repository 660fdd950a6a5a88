#include "driver/documents.h"

#include "pesolan_version.h"

namespace pesolan {
namespace {

#define XML_DECLARATION u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"

const char16_t kDescription[] =
    XML_DECLARATION u"\r\n"
    u"<DriverDescription\r\n"
    u"  Name=\"Драйвер весов Vestra без печати.\"\r\n"
    u"  Description=\"Драйвер весов Vestra без печати. Работает со всеми моделями весов Vestra, "
    u"поддерживающими потоковую передачу и режим запроса.\"\r\n"
    u"  EquipmentType=\"ЭлектронныеВесы\"\r\n"
    u"  IntegrationComponent=\"Нет\"\r\n"
    u"  MainDriverInstalled=\"Нет\"\r\n"
    u"  DriverVersion=\"" PESOLAN_VERSION "\"\r\n"
    u"  IntegrationComponentVersion=\"" PESOLAN_VERSION "\" />\r\n";

const char16_t kActions[] = XML_DECLARATION u" <Actions>  </Actions>";

// Runs of spaces before the tags of each element.
#define PAGE u"  "
#define PARAMETER u"    "
#define CHOICES u"      "
#define ITEM u"        "

// From the declaration to the ChoiceList start tag of Prm_RsPort.
const char16_t kSettingsHead[] =
    XML_DECLARATION u"<Settings>"
    PAGE u"<Page Caption=\"Параметры\">"
    PARAMETER u"<Parameter Name=\"Prm_Connect\" Caption=\"Тип подключения\" TypeValue=\"Number\" DefaultValue=\"0\">"
    CHOICES u"<ChoiceList>"
    ITEM u"<Item Value=\"0\">RS-232</Item>"
    ITEM u"<Item Value=\"1\">TCP</Item>"
    CHOICES u"</ChoiceList>"
    PARAMETER u"</Parameter>"
    PARAMETER u"<Parameter Name=\"Prm_RsPort\" Caption=\"Номер порта COM\" TypeValue=\"Number\" DefaultValue=\"0\">"
    CHOICES u"<ChoiceList>";

// From the run of spaces before the ChoiceList end tag of Prm_RsPort.
const char16_t kSettingsTail[] =
    CHOICES u"</ChoiceList>"
    PARAMETER u"</Parameter>"
    PARAMETER u"<Parameter Name=\"Prm_ConnAttrs\" Caption=\"Параметры связи RS-232:\" TypeValue=\"Number\" DefaultValue=\"0\">"
    CHOICES u"<ChoiceList>"
    ITEM u"<Item Value=\"0\"> 9600,n,8,1</Item>"
    ITEM u"<Item Value=\"1\"> 9600,Even,7,1</Item>"
    CHOICES u"</ChoiceList>"
    PARAMETER u"</Parameter>"
    PARAMETER u"<Parameter Name=\"Prm_IP\" Caption=\"IP-адрес\" TypeValue=\"String\" DefaultValue=\"192.168.100.100\" />"
    PARAMETER u"<Parameter Name=\"Prm_TcpPort\" Caption=\"Номер порта\" TypeValue=\"Number\" DefaultValue=\"20304\" />"
    PARAMETER u"<Parameter Name=\"Prm_Timeout\" Caption=\"Время ожидания ответа\" TypeValue=\"Number\" DefaultValue=\"200\" />"
    PARAMETER u"<Parameter Name=\"Prm_Unit\" Caption=\"Получать вес в ед. измерения\" TypeValue=\"Number\" DefaultValue=\"0\">"
    CHOICES u"<ChoiceList>"
    ITEM u"<Item Value=\"0\">Как на весах</Item>"
    ITEM u"<Item Value=\"1\">Миллиграмм</Item>"
    ITEM u"<Item Value=\"2\">Грамм</Item>"
    ITEM u"<Item Value=\"3\">Килограмм</Item>"
    ITEM u"<Item Value=\"4\">Тонна</Item>"
    CHOICES u"</ChoiceList>"
    PARAMETER u"</Parameter>"
    PARAMETER u"<Parameter Name=\"Prm_NoStable\" Caption=\"Чтение нестабильного веса\" TypeValue=\"Number\" DefaultValue=\"0\">"
    CHOICES u"<ChoiceList>"
    ITEM u"<Item Value=\"0\">Запретить</Item>"
    ITEM u"<Item Value=\"1\">Разрешить</Item>"
    CHOICES u"</ChoiceList>"
    PARAMETER u"</Parameter>"
    PAGE u"</Page>"
    u"</Settings>";

std::u16string Decimal(int32_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

// The generated items have no run of spaces before them; each ends with one.
std::u16string PortItem(int32_t port) {
  return u"<Item Value=\"" + Decimal(port) + u"\">COM" + Decimal(port) + u"</Item> ";
}

}  // namespace

const char16_t* DescriptionDocument() { return kDescription; }

const char16_t* ActionsDocument() { return kActions; }

std::u16string SettingsDocument(const int32_t* ports, int count) {
  constexpr size_t kTailUnits = sizeof kSettingsTail / sizeof kSettingsTail[0] - 1;
  std::u16string document(kSettingsHead);
  for (int i = 0; i < count; ++i) {
    const std::u16string item = PortItem(ports[i]);
    // Ports beyond what the page can hold are left out rather than cut.
    if (document.size() + item.size() + kTailUnits >= kSettingsDocumentUnits) break;
    document += item;
  }
  if (count == 0) document += u"\r\n" + PortItem(0);
  return document + kSettingsTail;
}

}  // namespace pesolan
