#pragma once
// pesolan's own words, in English and in Russian: the causes and next
// steps, what find and ports say of each port, --watch's lines. Each
// phrase is written in the code in English, L("..."), and found here in the
// language chosen; "{}" marks where Fill puts a part. The driver's own
// messages and the trace stay as they are.

#include <initializer_list>
#include <string>

namespace host {

enum class Language { English, Russian };

// From --lang (ru or en) when given, else from the user's settings: on
// Windows the user's interface language, elsewhere LC_ALL, LC_MESSAGES or
// LANG, the first that is set.
Language LanguageOf(const std::string& lang);
void UseLanguage(Language language);

// The phrase in the language in use; an English text the catalogue lacks
// comes back as it is (a test reads the sources for L("...") and fails on
// any such text).
const char* L(const char* english);
// text with each "{}" replaced by the next part.
std::string Fill(const std::string& text, std::initializer_list<std::string> parts);

struct Phrase {
  const char* english;
  const char* russian;
};
// The catalogue, for its test.
extern const Phrase kPhrases[];
extern const int kPhraseCount;

}  // namespace host
