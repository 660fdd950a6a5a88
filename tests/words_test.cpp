// pesolan's words: every phrase its sources say through L("...") is in the
// catalogue in English and in Russian, and the catalogue holds nothing else.

#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "words.h"

namespace {

using host::Fill;
using host::kPhraseCount;
using host::kPhrases;

int Holes(const std::string& text) {
  int n = 0;
  for (size_t at = text.find("{}"); at != std::string::npos; at = text.find("{}", at + 2)) ++n;
  return n;
}

// The string literal that starts at text[at] (a quote), unescaped; at moves
// past it.
std::string Literal(const std::string& text, size_t* at) {
  std::string value;
  for (size_t i = *at + 1; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      value += text[i + 1] == 'n' ? '\n' : text[i + 1];
      ++i;
    } else if (text[i] == '"') {
      *at = i + 1;
      return value;
    } else {
      value += text[i];
    }
  }
  *at = text.size();
  return value;
}

// The phrases inside each L( ... ): adjacent literals make one, anything
// else between them (a ? or a :) starts the next.
std::vector<std::string> PhrasesSaid(const std::string& source) {
  std::vector<std::string> said;
  for (size_t at = source.find("L("); at != std::string::npos; at = source.find("L(", at)) {
    const bool word = at > 0 && (std::isalnum(static_cast<unsigned char>(source[at - 1])) || source[at - 1] == '_');
    at += 2;
    if (word) continue;
    std::string phrase;
    bool joining = false;
    for (int depth = 1; at < source.size() && depth > 0;) {
      const char c = source[at];
      if (c == '"') {
        phrase += Literal(source, &at);
        joining = true;
        continue;
      }
      if (!std::isspace(static_cast<unsigned char>(c)) && joining) {
        said.push_back(phrase);
        phrase.clear();
        joining = false;
      }
      depth += c == '(' ? 1 : c == ')' ? -1 : 0;
      ++at;
    }
    if (joining) said.push_back(phrase);
  }
  return said;
}

std::vector<std::string> Sources() {
  const std::string dir = std::string(PESOLAN_SOURCE_DIR) + "/tools/pesolan";
  std::vector<std::string> texts;
  DIR* d = opendir(dir.c_str());
  while (const dirent* e = d != nullptr ? readdir(d) : nullptr) {
    const std::string name = e->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".cpp") != 0 || name == "words.cpp") continue;
    std::ifstream file(dir + "/" + name);
    std::stringstream text;
    text << file.rdbuf();
    texts.push_back(text.str());
  }
  if (d != nullptr) closedir(d);
  return texts;
}

TEST(Words, EveryPhraseIsInEnglishAndRussianWithTheSameHoles) {
  std::set<std::string> english;
  for (int i = 0; i < kPhraseCount; ++i) {
    const std::string en = kPhrases[i].english, ru = kPhrases[i].russian;
    EXPECT_FALSE(en.empty()) << i;
    EXPECT_NE(ru.find("\xD0"), std::string::npos) << "Cyrillic: " << en;
    EXPECT_EQ(Holes(en), Holes(ru)) << en;
    EXPECT_TRUE(english.insert(en).second) << "twice: " << en;
  }
}

TEST(Words, TheSourcesSayOnlyPhrasesOfTheCatalogueAndItHoldsNoOther) {
  std::set<std::string> catalogue, used;
  for (int i = 0; i < kPhraseCount; ++i) catalogue.insert(kPhrases[i].english);
  const std::string dir = std::string(PESOLAN_SOURCE_DIR) + "/tools/pesolan";
  if (DIR* d = opendir(dir.c_str())) {
    closedir(d);
  } else {
    GTEST_SKIP() << "the sources are not on this machine (the test machine has the binaries only)";
  }
  const std::vector<std::string> sources = Sources();
  ASSERT_GE(sources.size(), 8u);
  for (const std::string& source : sources) {
    for (const std::string& phrase : PhrasesSaid(source)) {
      EXPECT_EQ(catalogue.count(phrase), 1u) << "not in the catalogue: " << phrase;
      used.insert(phrase);
    }
  }
  // Port states come from a field: ports.cpp and its system parts name them.
  for (const char* state : {"free", "in use", "no permission", "absent", "no UART", "cannot open"}) used.insert(state);
  for (const std::string& phrase : catalogue) EXPECT_EQ(used.count(phrase), 1u) << "never said: " << phrase;
}

TEST(Words, TheChosenLanguageAndItsParts) {
  host::UseLanguage(host::Language::Russian);
  EXPECT_EQ(Fill(host::L("cannot open: {}"), {"EBUSY"}), "не открывается: EBUSY");
  EXPECT_STREQ(host::L("a text the catalogue lacks"), "a text the catalogue lacks");
  host::UseLanguage(host::Language::English);
  EXPECT_EQ(Fill(host::L("; the port refuses --attrs {} ({})"), {"1", "9600 7E1"}), "; the port refuses --attrs 1 (9600 7E1)");
  EXPECT_EQ(Fill("{} and {}", {"one"}), "one and {}") << "a hole without a part stays";
  EXPECT_EQ(host::LanguageOf("ru"), host::Language::Russian);
  EXPECT_EQ(host::LanguageOf("en"), host::Language::English);
}

}  // namespace
