#include "base/charset.h"

#include <unicode/bytestream.h>
#include <unicode/edits.h>
#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/utf16.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace vorlex::core {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

const icu::Normalizer2& Nfc() {
  UErrorCode error = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(error);
  // The composed form's data is part of ICU's own library.
  if (U_FAILURE(error) || nfc == nullptr) std::abort();
  return *nfc;
}

// The one character that `byte` stands for in the code page, or -1 where it
// stands for none, or for one that does not convert back to the byte alone
// (a one-way "best fit" mapping).
int32_t ByteCharacter(UConverter* converter, uint8_t byte) {
  UErrorCode error = U_ZERO_ERROR;
  UChar units[4];
  const char in = static_cast<char>(byte);
  ucnv_resetToUnicode(converter);
  const int32_t length = ucnv_toUChars(converter, units, 4, &in, 1, &error);
  if (U_FAILURE(error) || length < 1) return -1;
  int32_t at = 0;
  UChar32 code_point = 0;
  U16_NEXT(units, at, length, code_point);
  if (at != length || U_IS_SURROGATE(code_point)) return -1;
  char back[8];
  error = U_ZERO_ERROR;
  ucnv_resetFromUnicode(converter);
  const int32_t back_length =
      ucnv_fromUChars(converter, back, sizeof back, units, length, &error);
  if (U_FAILURE(error) || back_length != 1 || back[0] != in) return -1;
  return code_point;
}

std::string Utf8Of(UChar32 code_point) {
  std::string text;
  icu::UnicodeString(code_point).toUTF8String(text);
  return text;
}

}  // namespace

std::optional<DefinedTexts> CodePageTexts(std::string_view name,
                                          std::string* problem) {
  const std::string quoted = "\"" + std::string(name) + "\"";
  UErrorCode error = U_ZERO_ERROR;
  // An empty name would open ICU's default converter.
  Converter converter(
      name.empty() ? nullptr : ucnv_open(std::string(name).c_str(), &error));
  if (!converter || U_FAILURE(error)) {
    *problem = "unknown code page " + quoted;
    return std::nullopt;
  }
  if (ucnv_getMaxCharSize(converter.get()) != 1) {
    *problem = "the code page " + quoted +
               " has characters of more than one byte; a pakfile's strings "
               "hold one byte per character";
    return std::nullopt;
  }
  error = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr,
                      nullptr, nullptr, &error);
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr,
                        nullptr, nullptr, &error);
  DefinedTexts texts;
  // The control bytes are taken as ASCII too: some code pages move a few of
  // them, which would only confuse the text file's line ends.
  for (int byte = 0; byte < 0x80; ++byte) {
    texts[byte] = std::string(1, static_cast<char>(byte));
    if (byte < 0x20 || byte == 0x7F) continue;
    if (ByteCharacter(converter.get(), static_cast<uint8_t>(byte)) != byte) {
      *problem = "the code page " + quoted + " does not keep ASCII: byte " +
                 HexByte(static_cast<uint8_t>(byte)) + " is not \"" +
                 std::string(1, static_cast<char>(byte)) + "\"";
      return std::nullopt;
    }
  }
  for (int byte = 0x80; byte < 0x100; ++byte) {
    const int32_t code_point =
        ByteCharacter(converter.get(), static_cast<uint8_t>(byte));
    if (code_point < 0) continue;
    std::string text = Utf8Of(code_point);
    if (ToComposedForm(text) != text) {
      *problem = "the code page " + quoted + " cannot be used: byte " +
                 HexByte(static_cast<uint8_t>(byte)) + " stands for " +
                 DescribeCharacterAt(text, 0) +
                 ", which the composed form changes";
      return std::nullopt;
    }
    texts[byte] = std::move(text);
  }
  return texts;
}

std::optional<Alphabet> MakeAlphabet(std::string_view charset,
                                     std::string_view table_name,
                                     std::string_view table_contents,
                                     std::string* problem) {
  DefinedTexts defined;
  if (!charset.empty()) {
    std::optional<DefinedTexts> texts = CodePageTexts(charset, problem);
    if (!texts) return std::nullopt;
    defined = std::move(*texts);
  } else {
    for (int byte = 0; byte < 0x80; ++byte) {
      defined[byte] = std::string(1, static_cast<char>(byte));
    }
  }
  std::string name(charset);
  if (!table_name.empty()) {
    const std::string where = "character table " + std::string(table_name);
    std::vector<CharacterTableEntry> entries;
    if (std::string why = ParseCharacterTable(table_contents, &entries);
        !why.empty()) {
      *problem = where + ", " + why;
      return std::nullopt;
    }
    for (CharacterTableEntry& entry : entries)
      entry.text = ToComposedForm(entry.text);
    if (std::string why = ApplyTable(entries, &defined); !why.empty()) {
      *problem = where + ", " + why;
      return std::nullopt;
    }
    name = name.empty() ? std::string(table_name)
                        : name + " with " + std::string(table_name);
  }
  Alphabet alphabet;
  if (std::string why = BuildAlphabet(name, defined, &alphabet); !why.empty()) {
    *problem = name + ": " + why;
    return std::nullopt;
  }
  return alphabet;
}

bool TextReadsBack(std::string_view bytes, const Alphabet& alphabet,
                   std::string* text, std::string* back) {
  text->clear();
  back->clear();
  AppendAsText(bytes, alphabet, text);
  return AppendAsBytes(ToComposedForm(*text), alphabet, back).empty() &&
         *back == bytes;
}

std::string ToComposedForm(std::string_view text) {
  const icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
  UErrorCode error = U_ZERO_ERROR;
  if (Nfc().isNormalizedUTF8(piece, error) && U_SUCCESS(error)) {
    return std::string(text);
  }
  std::string composed;
  icu::StringByteSink<std::string> sink(&composed);
  error = U_ZERO_ERROR;
  Nfc().normalizeUTF8(0, piece, sink, nullptr, error);
  return U_SUCCESS(error) ? composed : std::string(text);
}

size_t SourcePosition(std::string_view text, size_t composed_position) {
  const icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
  std::string composed;
  icu::StringByteSink<std::string> sink(&composed);
  icu::Edits edits;
  UErrorCode error = U_ZERO_ERROR;
  Nfc().normalizeUTF8(0, piece, sink, &edits, error);
  if (U_FAILURE(error)) return composed_position;
  icu::Edits::Iterator changes = edits.getFineIterator();
  const int32_t source = changes.sourceIndexFromDestinationIndex(
      static_cast<int32_t>(composed_position), error);
  return U_SUCCESS(error) ? static_cast<size_t>(source) : composed_position;
}

std::optional<CodePageByte> FindCodePage(int32_t code_point,
                                         const std::array<bool, 256>& usable) {
  // Built once: the hint may be asked for many characters.
  static const std::map<std::string_view, DefinedTexts> pages = [] {
    std::map<std::string_view, DefinedTexts> built;
    std::string ignored;
    for (std::string_view name : kListedCodePages) {
      if (auto texts = CodePageTexts(name, &ignored)) {
        built.emplace(name, std::move(*texts));
      }
    }
    return built;
  }();
  if (code_point < 0) return std::nullopt;
  const std::string wanted = Utf8Of(code_point);
  for (std::string_view name : kListedCodePages) {
    const auto page = pages.find(name);
    if (page == pages.end()) continue;
    for (int byte = 0; byte < 256; ++byte) {
      if (page->second[byte] == wanted && usable[byte]) {
        return CodePageByte{name, static_cast<uint8_t>(byte)};
      }
    }
  }
  return std::nullopt;
}

}  // namespace vorlex::core
