#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

#include "core/platform/linux/loaded_library.hpp"
#include "core/platform/release_files.hpp"

namespace norvo::platform {

namespace fs = std::filesystem;

namespace {

// libarchive (with the compression libraries it pulls in, and libxml2) and
// OpenSSL's libcrypto are opened when a release is first unpacked or checked:
// nothing else in the program needs them.
struct Archive {
  decltype(&::archive_read_new) archive_read_new = nullptr;
  decltype(&::archive_read_free) archive_read_free = nullptr;
  decltype(&::archive_read_support_filter_all) archive_read_support_filter_all = nullptr;
  decltype(&::archive_read_support_format_tar) archive_read_support_format_tar = nullptr;
  decltype(&::archive_read_support_format_gnutar) archive_read_support_format_gnutar = nullptr;
  decltype(&::archive_read_open_filename) archive_read_open_filename = nullptr;
  decltype(&::archive_read_next_header) archive_read_next_header = nullptr;
  decltype(&::archive_read_data_block) archive_read_data_block = nullptr;
  decltype(&::archive_entry_pathname) archive_entry_pathname = nullptr;
  decltype(&::archive_entry_hardlink) archive_entry_hardlink = nullptr;
  decltype(&::archive_entry_filetype) archive_entry_filetype = nullptr;
  decltype(&::archive_entry_symlink) archive_entry_symlink = nullptr;
  decltype(&::archive_entry_set_pathname) archive_entry_set_pathname = nullptr;
  decltype(&::archive_entry_set_hardlink) archive_entry_set_hardlink = nullptr;
  decltype(&::archive_error_string) archive_error_string = nullptr;
  decltype(&::archive_write_disk_new) archive_write_disk_new = nullptr;
  decltype(&::archive_write_disk_set_options) archive_write_disk_set_options = nullptr;
  decltype(&::archive_write_free) archive_write_free = nullptr;
  decltype(&::archive_write_header) archive_write_header = nullptr;
  decltype(&::archive_write_data_block) archive_write_data_block = nullptr;
  decltype(&::archive_write_finish_entry) archive_write_finish_entry = nullptr;
  decltype(&::archive_write_close) archive_write_close = nullptr;
  std::optional<std::string> error;
};

struct Crypto {
  decltype(&::EVP_MD_CTX_new) EVP_MD_CTX_new = nullptr;
  decltype(&::EVP_MD_CTX_free) EVP_MD_CTX_free = nullptr;
  decltype(&::EVP_sha256) EVP_sha256 = nullptr;
  decltype(&::EVP_DigestInit_ex) EVP_DigestInit_ex = nullptr;
  decltype(&::EVP_DigestUpdate) EVP_DigestUpdate = nullptr;
  decltype(&::EVP_DigestFinal_ex) EVP_DigestFinal_ex = nullptr;
  decltype(&::EVP_PKEY_new_raw_public_key) EVP_PKEY_new_raw_public_key = nullptr;
  decltype(&::EVP_PKEY_free) EVP_PKEY_free = nullptr;
  decltype(&::EVP_DigestVerifyInit) EVP_DigestVerifyInit = nullptr;
  decltype(&::EVP_DigestVerify) EVP_DigestVerify = nullptr;
  std::optional<std::string> error;
};

const Archive& archiveLibrary() {
  static const Archive loaded = [] {
    Archive l;
    const LibrarySymbol symbols[] = {
        LIBRARY_SYMBOL(l, archive_read_new),
        LIBRARY_SYMBOL(l, archive_read_free),
        LIBRARY_SYMBOL(l, archive_read_support_filter_all),
        LIBRARY_SYMBOL(l, archive_read_support_format_tar),
        LIBRARY_SYMBOL(l, archive_read_support_format_gnutar),
        LIBRARY_SYMBOL(l, archive_read_open_filename),
        LIBRARY_SYMBOL(l, archive_read_next_header),
        LIBRARY_SYMBOL(l, archive_read_data_block),
        LIBRARY_SYMBOL(l, archive_entry_pathname),
        LIBRARY_SYMBOL(l, archive_entry_hardlink),
        LIBRARY_SYMBOL(l, archive_entry_filetype),
        LIBRARY_SYMBOL(l, archive_entry_symlink),
        LIBRARY_SYMBOL(l, archive_entry_set_pathname),
        LIBRARY_SYMBOL(l, archive_entry_set_hardlink),
        LIBRARY_SYMBOL(l, archive_error_string),
        LIBRARY_SYMBOL(l, archive_write_disk_new),
        LIBRARY_SYMBOL(l, archive_write_disk_set_options),
        LIBRARY_SYMBOL(l, archive_write_free),
        LIBRARY_SYMBOL(l, archive_write_header),
        LIBRARY_SYMBOL(l, archive_write_data_block),
        LIBRARY_SYMBOL(l, archive_write_finish_entry),
        LIBRARY_SYMBOL(l, archive_write_close),
    };
    l.error = loadLibrary("libarchive.so.13", symbols);
    return l;
  }();
  return loaded;
}

const Crypto& cryptoLibrary() {
  static const Crypto loaded = [] {
    Crypto l;
    const LibrarySymbol symbols[] = {
        LIBRARY_SYMBOL(l, EVP_MD_CTX_new),
        LIBRARY_SYMBOL(l, EVP_MD_CTX_free),
        LIBRARY_SYMBOL(l, EVP_sha256),
        LIBRARY_SYMBOL(l, EVP_DigestInit_ex),
        LIBRARY_SYMBOL(l, EVP_DigestUpdate),
        LIBRARY_SYMBOL(l, EVP_DigestFinal_ex),
        LIBRARY_SYMBOL(l, EVP_PKEY_new_raw_public_key),
        LIBRARY_SYMBOL(l, EVP_PKEY_free),
        LIBRARY_SYMBOL(l, EVP_DigestVerifyInit),
        LIBRARY_SYMBOL(l, EVP_DigestVerify),
    };
    l.error = loadLibrary("libcrypto.so.3", symbols);
    return l;
  }();
  return loaded;
}

using Reader = std::unique_ptr<archive, decltype(&::archive_read_free)>;
using Writer = std::unique_ptr<archive, decltype(&::archive_write_free)>;

Reader openArchive(const Archive& ar, const fs::path& tarball) {
  Reader a(ar.archive_read_new(), ar.archive_read_free);
  ar.archive_read_support_filter_all(a.get());
  ar.archive_read_support_format_tar(a.get());
  ar.archive_read_support_format_gnutar(a.get());
  if (ar.archive_read_open_filename(a.get(), tarball.c_str(), 1 << 16) != ARCHIVE_OK)
    return {nullptr, ar.archive_read_free};
  return a;
}

// The entry's path below the folder, or absent when it is absolute or climbs
// out with "..".
std::optional<fs::path> inside(const char* name) {
  if (!name || !*name) return std::nullopt;
  fs::path p(name);
  if (p.is_absolute()) return std::nullopt;
  for (const auto& part : p)
    if (part == "..") return std::nullopt;
  return p.lexically_normal();
}

// Whether a symbolic link at `entry` pointing to `target` stays in the folder
// once resolved from the link's own folder.
bool linkStaysInside(const fs::path& entry, const char* target) {
  if (!target || !*target) return false;
  fs::path t(target);
  if (t.is_absolute()) return false;
  int depth = 0;
  for (const auto& part : entry.parent_path())
    if (part != "." && !part.empty()) ++depth;
  for (const auto& part : t) {
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (part != "." && !part.empty()) {
      ++depth;
    }
  }
  return true;
}

// Whether a folder on the way to `path` is one of the archive's links: a link
// to "." makes a later "x/link/.." look one level deeper than it is.
bool throughLink(const fs::path& path, const std::set<fs::path>& links) {
  fs::path prefix;
  for (const auto& part : path.parent_path()) {
    prefix /= part;
    if (links.count(prefix)) return true;
  }
  return false;
}

std::optional<std::string> checkEntries(const Archive& ar, const fs::path& tarball) {
  auto a = openArchive(ar, tarball);
  if (!a) return "cannot read " + tarball.filename().string();
  std::set<fs::path> links;
  archive_entry* e = nullptr;
  int rc;
  while ((rc = ar.archive_read_next_header(a.get(), &e)) == ARCHIVE_OK) {
    const char* name = ar.archive_entry_pathname(e);
    auto path = inside(name);
    if (!path) return std::string(name ? name : "") + " lies outside the folder";
    if (throughLink(*path, links) || links.count(*path))
      return std::string(name) + " lies behind a link";
    if (const char* hard = ar.archive_entry_hardlink(e)) {
      auto target = inside(hard);
      if (!target || throughLink(*target, links) || links.count(*target))
        return std::string(name) + " links to " + hard + " outside the folder";
    }
    auto type = ar.archive_entry_filetype(e);
    if (type == AE_IFLNK) {
      if (!linkStaysInside(*path, ar.archive_entry_symlink(e)))
        return std::string(name) + " links outside the folder";
      links.insert(*path);
    } else if (type != AE_IFREG && type != AE_IFDIR && !ar.archive_entry_hardlink(e)) {
      return std::string(name) + " is neither a file, a folder nor a link";
    }
  }
  if (rc != ARCHIVE_EOF)
    return std::string(ar.archive_error_string(a.get()) ? ar.archive_error_string(a.get())
                                                        : "a damaged archive");
  return std::nullopt;
}

}  // namespace

std::optional<std::string> signatureCheckUnavailable() { return cryptoLibrary().error; }

std::optional<std::string> sha256Hex(const fs::path& file) {
  const Crypto& ssl = cryptoLibrary();
  if (ssl.error) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, decltype(&::EVP_MD_CTX_free)> ctx(ssl.EVP_MD_CTX_new(),
                                                                ssl.EVP_MD_CTX_free);
  if (!ctx || ssl.EVP_DigestInit_ex(ctx.get(), ssl.EVP_sha256(), nullptr) != 1) return std::nullopt;
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    if (in.gcount() > 0 &&
        ssl.EVP_DigestUpdate(ctx.get(), buffer, static_cast<size_t>(in.gcount())) != 1)
      return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (ssl.EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 15]);
  }
  return out;
}

bool ed25519Verifies(const fs::path& file, std::string_view signature, std::string_view publicKey) {
  if (signature.size() != 64 || publicKey.size() != 32) return false;
  const Crypto& ssl = cryptoLibrary();
  if (ssl.error) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  std::unique_ptr<EVP_PKEY, decltype(&::EVP_PKEY_free)> key(
      ssl.EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                      reinterpret_cast<const unsigned char*>(publicKey.data()), 32),
      ssl.EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&::EVP_MD_CTX_free)> ctx(ssl.EVP_MD_CTX_new(),
                                                                ssl.EVP_MD_CTX_free);
  if (!key || !ctx) return false;
  // Ed25519 signs the message itself, so there is no digest to name.
  if (ssl.EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  return ssl.EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                              signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                              data.size()) == 1;
}

std::optional<std::string> unpackTarball(const fs::path& tarball, const fs::path& into) {
  const Archive& ar = archiveLibrary();
  if (ar.error) return ar.error;
  if (auto why = checkEntries(ar, tarball)) return why;
  auto a = openArchive(ar, tarball);
  if (!a) return "cannot read " + tarball.filename().string();
  Writer out(ar.archive_write_disk_new(), ar.archive_write_free);
  // Entries are written under `into` by absolute path, so libarchive's own
  // absolute-path and link checks (which would also refuse a link above
  // `into`, such as a linked ~/.cache) stay off; the pass above checked
  // every entry and the second pass checks each path again.
  ar.archive_write_disk_set_options(out.get(),
                                    ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  archive_entry* e = nullptr;
  int rc;
  while ((rc = ar.archive_read_next_header(a.get(), &e)) == ARCHIVE_OK) {
    auto path = inside(ar.archive_entry_pathname(e));
    if (!path) return "the archive changed while it was unpacked";
    ar.archive_entry_set_pathname(e, (into / *path).c_str());
    if (const char* hard = ar.archive_entry_hardlink(e)) {
      auto target = inside(hard);
      if (!target) return "the archive changed while it was unpacked";
      ar.archive_entry_set_hardlink(e, (into / *target).c_str());
    }
    if (ar.archive_write_header(out.get(), e) != ARCHIVE_OK)
      return std::string(ar.archive_error_string(out.get()));
    const void* block;
    size_t size;
    la_int64_t offset;
    int r;
    while ((r = ar.archive_read_data_block(a.get(), &block, &size, &offset)) == ARCHIVE_OK)
      if (ar.archive_write_data_block(out.get(), block, size, offset) != ARCHIVE_OK)
        return std::string(ar.archive_error_string(out.get()));
    if (r != ARCHIVE_EOF) return std::string(ar.archive_error_string(a.get()));
    if (ar.archive_write_finish_entry(out.get()) != ARCHIVE_OK)
      return std::string(ar.archive_error_string(out.get()));
  }
  if (rc != ARCHIVE_EOF) return std::string(ar.archive_error_string(a.get()));
  if (ar.archive_write_close(out.get()) != ARCHIVE_OK)
    return std::string(ar.archive_error_string(out.get()));
  return std::nullopt;
}

}  // namespace norvo::platform
