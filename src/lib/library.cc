// The library interface of include/vorlex/vorlex.h, over the same loading,
// decoding, encoding and file replacing that the commands use.
#include <functional>
#include <utility>

#include "base/failure.h"
#include "base/file_io.h"
#include "extract/decoder.h"
#include "extract/extract_block.h"
#include "lib/open_through.h"
#include "pack/block_encoder.h"
#include "pack/encoder.h"
#include "pack/image_builder.h"
#include "pak/code_tree.h"
#include "pak/pak.h"
#include "pak/pak_format.h"
#include "vorlex/vorlex.h"

namespace vorlex {
using namespace core;  // the facade is written in the core's terms

struct PakfileData {
  std::shared_ptr<FileSystem> files;  // where the file is read and written
  std::string path;
  LoadedPak pak;
  CodeTable codes;
  std::optional<BlockDecoder> decoder;  // made once the tree is in place
};

namespace {

bool Fail(Error* error, std::string message) {
  if (error != nullptr) error->message = std::move(message);
  return false;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

std::string NoSuchBlock(const Pakfile& pak, int64_t block) {
  const std::string where =
      pak.data != nullptr
          ? "pakfile " + Quoted(pak.data->path) + ", which has blocks 0 to " +
                std::to_string(pak.data->pak.directory.size() - 1)
          : "a pakfile that is not open";
  return "block " + std::to_string(block) + " is not in " + where;
}

// Loads `bytes` as start-up does. Nothing when the pakfile has no blocks.
std::shared_ptr<const PakfileData> Load(std::shared_ptr<FileSystem> files,
                                        std::string path, std::string bytes) {
  auto data = std::make_shared<PakfileData>();
  data->files = std::move(files);
  data->path = std::move(path);
  data->pak = LoadPak(std::move(bytes));
  if (data->pak.header.block_count == 0) return nullptr;
  data->codes = BuildCodeTable(data->pak.tree);
  data->decoder.emplace(data->pak.tree);
  return data;
}

// The blocks as the image builders take them. Nothing, with the reason in
// *why, when one of them was read damaged and not released for writing.
std::optional<std::vector<NewBlock>> NewBlocks(const std::vector<Block>& blocks,
                                               int first, std::string* why) {
  std::vector<NewBlock> new_blocks;
  new_blocks.reserve(blocks.size());
  for (size_t k = 0; k < blocks.size(); ++k) {
    if (!blocks[k].complete) {
      *why = "block " + std::to_string(first + static_cast<int64_t>(k)) +
             " is marked incomplete (it was read damaged); set `complete` "
             "to write it as it stands";
      return std::nullopt;
    }
    new_blocks.push_back(
        NewBlock{.id = blocks[k].id, .strings = blocks[k].strings});
  }
  return new_blocks;
}

// Starts the layout of the new image for the blocks given.
using LayoutStart = std::function<bool(const PakfileData&, int64_t blocks,
                                       ImageBuilder*, std::string*)>;

// Builds the new contents and puts them in place of the file, or leaves the
// file and *pak as they were.
bool Write(Pakfile* pak, const std::vector<Block>& blocks, int first,
           const LayoutStart& start, Error* error) {
  if (pak == nullptr || pak->data == nullptr) {
    return Fail(error, "no pakfile is open");
  }
  const PakfileData& data = *pak->data;
  const std::string not_changed = Quoted(data.path) + " not changed: ";
  std::string why;
  const std::optional<std::vector<NewBlock>> new_blocks =
      NewBlocks(blocks, first, &why);
  if (!new_blocks) return Fail(error, not_changed + why);
  ImageBuilder builder;
  const BlockCoder coder{.codes = data.codes, .decoder = *data.decoder};
  if (!start(data, static_cast<int64_t>(new_blocks->size()), &builder, &why) ||
      !BuildBlocks(&builder, *new_blocks, coder, &why)) {
    return Fail(error, not_changed + why);
  }
  std::string& image = builder.result();
  if (image == data.pak.bytes) return true;

  FileSystem& files = *data.files;
  if (!MayRewrite(files, data.path, &why)) {
    return Fail(error, not_changed + why);
  }
  // Another program, or another copy of this Pakfile, may have written the
  // file since it was read; writing over that would lose its change. The
  // lock keeps the packing commands out until the new file is in place.
  OpenFile locked;
  std::string on_disk;
  if (!OpenRegularFile(files, data.path, kMaxPakfileSize, &locked, &why) ||
      !LockExclusively(files, data.path, kMaxPakfileSize, kLockWaitMs, &locked,
                       &why) ||
      !ReadRest(files, locked.fd(), &on_disk, &why)) {
    return Fail(error, not_changed + why);
  }
  if (on_disk != data.pak.bytes) {
    return Fail(error,
                not_changed + "it changed since it was opened; open it again");
  }
  if (ReplaceFileContents(files, data.path, image, /*in_place=*/false, &why) !=
      Replaced::kYes) {
    return Fail(error, not_changed + why);
  }
  pak->data = Load(data.files, data.path, std::move(image));
  return true;
}

}  // namespace

std::optional<Pakfile> OpenPakfileThrough(std::shared_ptr<FileSystem> files,
                                          const std::string& path,
                                          Error* error) {
  std::string why;
  std::optional<std::string> bytes =
      ReadRegularFile(*files, path, kMaxPakfileSize, &why);
  if (!bytes) {
    Fail(error, "cannot read pakfile " + Quoted(path) + ": " + why);
    return std::nullopt;
  }
  std::shared_ptr<const PakfileData> data =
      Load(std::move(files), path, std::move(*bytes));
  if (data == nullptr) {
    Fail(error,
         "no blocks in pakfile " + Quoted(path) + " (its block count is 0)");
    return std::nullopt;
  }
  return Pakfile{.data = std::move(data)};
}

std::optional<Pakfile> OpenPakfile(const std::string& path, Error* error) {
  return OpenPakfileThrough(std::make_shared<RealFileSystem>(), path, error);
}

const std::string& PakfilePath(const Pakfile& pak) {
  static const std::string kNone;
  return pak.data != nullptr ? pak.data->path : kNone;
}

int NodeCount(const Pakfile& pak) {
  return pak.data != nullptr ? pak.data->pak.header.node_count : 0;
}

int BlockCount(const Pakfile& pak) {
  return pak.data != nullptr ? static_cast<int>(pak.data->pak.directory.size())
                             : 0;
}

int BlockId(const Pakfile& pak, int block) {
  if (block < 0 || block >= BlockCount(pak)) return -1;
  return pak.data->pak.directory[static_cast<size_t>(block)].id;
}

std::vector<int> BrokenTreeNodes(const Pakfile& pak) {
  if (pak.data == nullptr) return {};
  const std::vector<int32_t>& broken = pak.data->pak.broken_nodes;
  return std::vector<int>(broken.begin(), broken.end());
}

std::optional<Block> ReadBlock(const Pakfile& pak, int block, Error* error) {
  if (block < 0 || block >= BlockCount(pak)) {
    Fail(error, NoSuchBlock(pak, block));
    return std::nullopt;
  }
  const LoadedPak& loaded = pak.data->pak;
  const size_t b = static_cast<size_t>(block);
  StringEndMemo memo(static_cast<int64_t>(loaded.bytes.size()));
  const DecodedBlock decoded =
      DecodePakBlock(loaded, *pak.data->decoder, b, &memo);
  Block result;
  result.id = loaded.directory[b].id;
  result.stored_count = decoded.string_count;
  result.complete =
      decoded.StringsDecoded() == static_cast<size_t>(decoded.string_count);
  result.strings.reserve(decoded.StringsDecoded());
  for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
    result.strings.emplace_back(decoded.String(k));
  }
  return result;
}

std::optional<std::string> EncodeString(const Pakfile& pak,
                                        std::string_view text, Error* error) {
  if (pak.data == nullptr) {
    Fail(error, "no pakfile is open");
    return std::nullopt;
  }
  const size_t terminator = text.find(kTerminator);
  if (terminator != std::string_view::npos && terminator + 1 != text.size()) {
    Fail(error, "the text holds the terminator '|' as character " +
                    std::to_string(terminator + 1) + " of " +
                    std::to_string(text.size()) + "; only the last may be '|'");
    return std::nullopt;
  }
  const CodeTable& codes = pak.data->codes;
  if (const EncodeResult bad = FindUnencodable(text, codes); !bad.ok) {
    Fail(error, DescribeByteValue(bad.byte) + " (character " +
                    std::to_string(bad.position + 1) + " of the text) " +
                    UnencodableReason(
                        bad, pak.data->pak.tree, codes,
                        "the tree of pakfile " + Quoted(pak.data->path)));
    return std::nullopt;
  }
  std::string code;
  EncodeString(text, codes, &code);
  return code;
}

bool ReplaceBlocks(Pakfile* pak, int first, const std::vector<Block>& blocks,
                   Error* error) {
  if (blocks.empty() && pak != nullptr && pak->data != nullptr) {
    if (first >= 0 && first <= BlockCount(*pak)) return true;
    return Fail(error, NoSuchBlock(*pak, first));
  }
  return Write(
      pak, blocks, first,
      [first](const PakfileData& data, int64_t count, ImageBuilder* builder,
              std::string* why) {
        return builder->StartReplace(data.pak, first, count, why);
      },
      error);
}

bool AppendBlocks(Pakfile* pak, const std::vector<Block>& blocks,
                  Error* error) {
  if (blocks.empty() && pak != nullptr && pak->data != nullptr) return true;
  const int first = pak != nullptr ? BlockCount(*pak) : 0;
  // One add step per block on a copy of the tables and bytes, then the new
  // blocks written as the last ones.
  LoadedPak grown;
  return Write(
      pak, blocks, first,
      [&grown](const PakfileData& data, int64_t count, ImageBuilder* builder,
               std::string* why) {
        grown = data.pak;
        for (int64_t k = 0; k < count; ++k) {
          std::string refusal;
          if (!CanAddBlock(grown, &refusal)) {
            return Fail(why, "cannot add a block: " + refusal);
          }
          AddEmptyBlock(&grown, /*change_bytes=*/true);
        }
        return builder->StartReplace(
            grown, static_cast<int64_t>(grown.directory.size()) - count, count,
            why);
      },
      error);
}

bool RebuildPakfile(Pakfile* pak, const std::vector<Block>& blocks,
                    Error* error) {
  return Write(
      pak, blocks, 0,
      [](const PakfileData& data, int64_t count, ImageBuilder* builder,
         std::string* why) {
        return builder->StartRebuild(data.pak, count, why);
      },
      error);
}

}  // namespace vorlex
