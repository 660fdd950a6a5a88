#include "words.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace host {

const Phrase kPhrases[] = {
    // Causes and next steps.
    {"pesolan find listens on every free port with both line settings",
     "pesolan find слушает все свободные порты с обеими настройками линии"},
    {"pesolan find --tcp HOST:PORT tells what answers at an address",
     "pesolan find --tcp АДРЕС:ПОРТ покажет, что отвечает по адресу"},
    {"check the address and the port number, and that the scale (or its network adapter) is on",
     "проверьте адрес и номер порта и что весы (или их сетевой адаптер) включены"},
    {"check the host name, or give the scale's IP address", "проверьте имя хоста или укажите IP-адрес весов"},
    {"nothing listens at that port: check the port number in the scale's network settings",
     "на этом порту никто не отвечает: проверьте номер порта в сетевых настройках весов"},
    {"check the network between here and the scale (cable, address, firewall)",
     "проверьте сеть между этим компьютером и весами (кабель, адрес, брандмауэр)"},
    {"check the COM number; pesolan ports lists the ports there are, and {}",
     "проверьте номер COM-порта; pesolan ports покажет, какие порты есть, а {}"},
    {"close the program that holds the port, or read the scale through it",
     "закройте программу, которая держит порт, или читайте весы через неё"},
    {"the user may not open the port: pesolan ports says what would let them",
     "у пользователя нет прав на порт: pesolan ports подскажет, как их дать"},
    {"the port does not exist: check the cable or adapter; pesolan ports lists the ports there are",
     "такого порта нет: проверьте кабель или переходник; pesolan ports покажет, какие порты есть"},
    {"the connection is closed: the scale hung up, or the network between broke",
     "соединение закрыто: весы разорвали его, или прервалась сеть между ними и компьютером"},
    {"the port is closed: its adapter was pulled out, or the port failed",
     "порт закрыт: переходник выдернули, или порт отказал"},
    {"the scale streams a line about every {} ms; the driver needs one within {} ms",
     "весы передают строку примерно раз в {} мс; драйверу нужна строка не реже чем раз в {} мс"},
    {"the scale streams a line less often than every {} ms; the driver needs one within {} ms",
     "весы передают строку реже чем раз в {} мс; драйверу нужна строка не реже чем раз в {} мс"},
    {"set the scale's send interval shorter: a line at least every {} ms",
     "уменьшите интервал передачи в настройках весов: строка не реже чем раз в {} мс"},
    {"stream scale, too slow for the driver: {}, with {}; {}",
     "весы с потоком, слишком медленным для драйвера: {}, с {}; {}"},
    {"found, too slow: {}", "найдены, но слишком медленные: {}"},
    {"a scale was found, but it streams too slowly for the driver",
     "весы найдены, но передают слишком медленно для драйвера"},
    {"Close the device and Open it again once the scale is back (the platform: Отключить, then Подключить; "
     "pesolan weight --watch does it itself)",
     "когда весы вернутся, закройте устройство и откройте снова (в платформе: Отключить, затем Подключить; "
     "pesolan weight --watch делает это сам)"},
    {"the scale sends bytes that form no weight line ({})", "весы передают байты, из которых не складывается строка веса ({})"},
    {"check that the device at this address is the scale and that it is set to send weights; {}",
     "проверьте, что по этому адресу отвечают весы и что они настроены передавать вес; {}"},
    {"check the line setting (--attrs 0: 8 data bits, no parity; 1: 7 data bits, even parity) and that the scale is "
     "set to send weights; {}",
     "проверьте настройку линии (--attrs 0: 8 бит данных без чётности; 1: 7 бит данных с чётностью even) и что весы "
     "настроены передавать вес; {}"},
    {"the scale sends faster than a reading can keep up ({})", "весы передают быстрее, чем чтение успевает принимать ({})"},
    {"check the scale's send interval and that nothing between (a network adapter) gathers its lines",
     "проверьте интервал передачи весов и что устройство между ними и компьютером (сетевой адаптер) не копит строки"},
    {"check the scale's send interval and its line speed: 9600 baud",
     "проверьте интервал передачи весов и скорость линии: 9600 бод"},
    {"the scale streamed, then stopped: {} without a weight line", "весы передавали строки и перестали: {} без строки веса"},
    {" (it may have hung up)", " (возможно, соединение разорвано)"},
    {"check that the scale is on and still connected; Close and Open the device once it is",
     "проверьте, что весы включены и на связи; затем закройте и снова откройте устройство"},
    {"check that the scale is on and that its cable is in", "проверьте, что весы включены и кабель подключён"},
    {"nothing came from the scale: no stream, and no answer to ENQ or ENQ DC1",
     "от весов ничего не пришло: ни потока строк, ни ответа на ENQ или ENQ DC1"},
    {"bytes came before the reading ({}), then nothing: no stream, and no answer to ENQ or ENQ DC1",
     "до чтения пришли байты ({}), потом ничего: ни потока строк, ни ответа на ENQ или ENQ DC1"},
    {"it gave weights here before: check that the scale is still on and still streams or answers",
     "вес отсюда уже приходил: проверьте, что весы всё ещё включены и передают строки или отвечают"},
    {"it gave weights here before: check that the scale is still on and its cable still in",
     "вес отсюда уже приходил: проверьте, что весы всё ещё включены и кабель на месте"},
    {"check that the scale is on, that this address and port are its own (the scale's network settings), and that it "
     "streams or answers requests; {}",
     "проверьте, что весы включены, что это их адрес и порт (сетевые настройки весов) и что они передают строки или "
     "отвечают на запросы; {}"},
    {"check the cable (RS-232 to a computer takes a null-modem cable), that the scale is on, and that it streams or "
     "answers requests; {}",
     "проверьте кабель (для RS-232 к компьютеру нужен нуль-модемный), что весы включены и что они передают строки или "
     "отвечают на запросы; {}"},
    {"give a port from 1 to 65535", "укажите порт от 1 до 65535"},
    {"the port cannot take this line setting: try the other one (--attrs 0 or 1)",
     "порт не принимает эту настройку линии: попробуйте другую (--attrs 0 или 1)"},
    {"the weight is not stable yet", "вес ещё не стабилен"},
    {"wait for the scale to settle, or allow unstable weights (--allow-unstable)",
     "дождитесь, пока вес успокоится, или разрешите нестабильный вес (--allow-unstable)"},
    {"the system has no serial port", "в системе нет последовательных портов"},
    {"connect the scale's cable or adapter; pesolan ports --all", "подключите кабель или переходник весов; pesolan ports --all"},
    {"the trace above shows the whole dialogue with the scale", "трассировка выше показывает весь обмен с весами"},
    {"pesolan --trace shows the whole dialogue with the scale", "pesolan --trace покажет весь обмен с весами"},
    // find.
    {"request scale ({}): {}, with --attrs {} ({})", "весы отвечают на запрос ({}): {}, с --attrs {} ({})"},
    {"stream scale: {}, clean weight lines with {}", "весы передают поток: {}, чистые строки веса с {}"},
    {"{} bytes that are no weight lines with {}: {} (another setting or another device)",
     "байт без строк веса: {}, с {}: {} (другая настройка или другое устройство)"},
    {"the port refuses both line settings", "порт не принимает ни одну из настроек линии"},
    {"silent (nothing sent to it; --ask asks it through the driver)",
     "молчит (ему ничего не отправлялось; --ask спросит его через драйвер)"},
    {"; the port refuses --attrs {} ({})", "; порт не принимает --attrs {} ({})"},
    {"cannot open: {}", "не открывается: {}"},
    {"stable", "стабильный"},
    {"unstable", "нестабильный"},
    {"scale answering by {}: {}", "весы отвечают ({}): {}"},
    {"no scale: {}", "весов нет: {}"},
    {"no scale found", "весы не найдены"},
    {"no port or address gave a weight", "ни один порт или адрес не дал вес"},
    {"check the cable and that the scale is on; pesolan find --ask also asks the silent ports, and pesolan ports says "
     "what each port is",
     "проверьте кабель и что весы включены; pesolan find --ask спросит и молчащие порты, а pesolan ports покажет, что "
     "это за порты"},
    {"check the addresses and that the scales are on", "проверьте адреса и что весы включены"},
    {"For the platform:", "Для платформы:"},
    {"no serial port found", "последовательные порты не найдены"},
    {"the driver did not open the device", "драйвер не открыл устройство"},
    {"the port does not open", "порт не открывается"},
    {"pesolan ports says what opening it meets", "pesolan ports покажет, что мешает его открыть"},
    // ports.
    {"no serial port found (pesolan ports --all lists every COM number)",
     "последовательные порты не найдены (pesolan ports --all покажет все номера COM)"},
    {"free", "свободен"},
    {"in use", "занят"},
    {"no permission", "нет прав"},
    {"absent", "нет"},
    {"no UART", "нет UART"},
    {"cannot open", "не открывается"},
    {"the node belongs to group '{}' (mode {}): add the user to it (usermod -aG {} USER) and log in again",
     "узел принадлежит группе '{}' (права {}): добавьте в неё пользователя (usermod -aG {} USER) и войдите заново"},
    {"the node's mode is {} and its group '{}': joining a group does not help; a udev rule can give it one, such as "
     "{} in /etc/udev/rules.d/60-scale.rules, and then add the user to group 'dialout'",
     "права узла {}, группа '{}': вступление в группу не поможет; правило udev может дать ему группу, например "
     "{} в /etc/udev/rules.d/60-scale.rules, после чего добавьте пользователя в группу 'dialout'"},
    {"not a terminal", "не терминал"},
    {"the kernel has the node but no serial hardware behind it", "узел в системе есть, но за ним нет последовательного порта"},
    {"another program has it open", "его открыла другая программа"},
    // --watch.
    {"the channel had closed: opened it again", "канал закрылся: открыт снова"},
    {"the channel had closed: it does not open yet", "канал закрылся: пока не открывается"},
    {"watch: {} readings, {} weights", "наблюдение: чтений {}, весов {}"},
    {", failed: {} with {}", ", ошибок: {} с кодом {}"},
    {", {} with {}", ", {} с кодом {}"},
};
const int kPhraseCount = static_cast<int>(sizeof kPhrases / sizeof kPhrases[0]);

namespace {

// Set once, before any thread is started.
Language g_language = Language::English;

#if !defined(_WIN32)
bool Russian(const char* setting) { return std::strncmp(setting, "ru", 2) == 0; }
#endif

}  // namespace

Language LanguageOf(const std::string& lang) {
  if (!lang.empty()) return lang == "ru" ? Language::Russian : Language::English;
#if defined(_WIN32)
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? Language::Russian : Language::English;
#else
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* setting = std::getenv(name);
    if (setting != nullptr && *setting != '\0') return Russian(setting) ? Language::Russian : Language::English;
  }
  return Language::English;
#endif
}

void UseLanguage(Language language) { g_language = language; }

const char* L(const char* english) {
  if (g_language == Language::English) return english;
  for (const Phrase& p : kPhrases) {
    if (std::strcmp(p.english, english) == 0) return p.russian;
  }
  return english;
}

std::string Fill(const std::string& text, std::initializer_list<std::string> parts) {
  std::string filled;
  size_t from = 0;
  for (const std::string& part : parts) {
    const size_t at = text.find("{}", from);
    if (at == std::string::npos) break;
    filled += text.substr(from, at - from) + part;
    from = at + 2;
  }
  return filled + text.substr(from);
}

}  // namespace host
