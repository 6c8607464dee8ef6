// Bytes and CPU per page of the text coders on web text, against what the
// origin already sends (gzip level 6): bzip2 (today's kind 2), brotli and
// zstd, and zstd against the previous page of the same site.
//   text_codec_bench DIR...   (files ending .html, .css, .js under each DIR)
//   text_codec_bench --pieces FILE...   (pages browsed in this order: how
//   pages cut into packet pieces are coded, alone or chained)
#include <brotli/decode.h>
#include <brotli/encode.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/packet.h"
#include "protocol/text_codec.h"

namespace {

double CpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::string Gzip(const std::string& in, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, in.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Gunzip(const std::string& in, std::size_t size) {
  z_stream z{};
  inflateInit2(&z, 31);
  std::string out(size, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  inflateEnd(&z);
  return out;
}

std::string Brotli(const std::string& in, int quality, int lgwin) {
  std::size_t n = BrotliEncoderMaxCompressedSize(in.size());
  std::string out(n, '\0');
  BrotliEncoderCompress(quality, lgwin, BROTLI_MODE_TEXT, in.size(),
                        reinterpret_cast<const uint8_t*>(in.data()), &n,
                        reinterpret_cast<uint8_t*>(&out[0]));
  out.resize(n);
  return out;
}

std::string Unbrotli(const std::string& in, std::size_t size) {
  std::string out(size, '\0');
  std::size_t n = size;
  BrotliDecoderDecompress(in.size(), reinterpret_cast<const uint8_t*>(in.data()), &n,
                          reinterpret_cast<uint8_t*>(&out[0]));
  out.resize(n);
  return out;
}

struct Coder {
  std::string name;
  // Codes page (prev: the site's previous page); decodes it back.
  std::function<std::string(const std::string& page, const std::string& prev)> code;
  std::function<std::string(const std::string& c, std::size_t size, const std::string& prev)>
      decode;
};

struct Sum {
  double bytes = 0, codeMs = 0, decodeMs = 0;
  int pages = 0, wrong = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// The smallest of zstd at level, bzip2 and plain for one piece, and of zstd
// against prefix when that is not empty.
std::size_t BestPiece(const char* data, std::size_t len, int level, const std::string& prefix) {
  std::string z, b;
  std::size_t best = len;
  if (Text2Compress(data, len, kText2Level, std::string(), z)) best = std::min(best, z.size());
  if (Bz2Compress(data, len, b)) best = std::min(best, b.size());
  if (!prefix.empty() && Text2Compress(data, len, level, prefix, z))
    best = std::min(best, z.size());
  return best;
}

// Pages in browsing order cut into kMaxBodySize pieces: each piece alone or
// against the previous page when it was kept (at most pageMax bytes), and
// with chain also against the page's content before the piece (its last
// kChainWindow bytes).
struct PieceScheme {
  const char* name;
  int level;
  bool chain;
  std::size_t pageMax;
};

int RunPieces(int argc, char** argv) {
  std::vector<std::string> pages;
  for (int i = 2; i < argc; ++i) pages.push_back(ReadFile(argv[i]));
  const PieceScheme schemes[] = {
      {"today: pieces, page<=256K", kText2Level, false, 256 * 1024},
      {"chain-9, page<=256K", 9, true, 256 * 1024},
      {"chain-9, page<=1M", 9, true, kChainWindow},
      {"chain-12, page<=1M", 12, true, kChainWindow},
      {"chain-13, page<=1M", 13, true, kChainWindow},
      {"chain-15, page<=1M", 15, true, kChainWindow},
      {"chain-19, page<=1M", 19, true, kChainWindow},
  };
  double gzip = 0;
  for (const auto& p : pages) gzip += Gzip(p, 6).size();
  std::printf("%-28s %6s %10s %9s %11s %12s\n", "scheme", "pages", "bytes", "vs gzip6",
              "code ms/pg", "max ms/piece");
  std::printf("%-28s %6zu %10.0f %9.3f\n", "gzip-6 (origin)", pages.size(), gzip, 1.0);
  for (const PieceScheme& s : schemes) {
    double bytes = 0, ms = 0, worst = 0;
    for (std::size_t k = 0; k < pages.size(); ++k) {
      const std::string& page = pages[k];
      std::string prev = k > 0 && pages[k - 1].size() <= s.pageMax ? pages[k - 1] : std::string();
      for (std::size_t pos = 0; pos < page.size(); pos += kMaxBodySize) {
        std::size_t len = std::min<std::size_t>(kMaxBodySize, page.size() - pos);
        std::string prefix = prev;
        if (s.chain) {
          std::size_t from = pos > kChainWindow ? pos - kChainWindow : 0;
          prefix.append(page, from, pos - from);
        }
        double t0 = CpuMs();
        bytes += BestPiece(page.data() + pos, len, s.level, prefix);
        double t = CpuMs() - t0;
        ms += t;
        worst = std::max(worst, t);
      }
    }
    std::printf("%-28s %6zu %10.0f %9.3f %11.1f %12.1f\n", s.name, pages.size(), bytes,
                bytes / gzip, ms / pages.size(), worst);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--pieces") return RunPieces(argc, argv);
  std::map<std::string, std::vector<std::vector<std::string>>> sites;  // type -> dirs -> pages
  for (int i = 1; i < argc; ++i) {
    std::map<std::string, std::vector<std::filesystem::path>> found;
    for (auto& e : std::filesystem::recursive_directory_iterator(argv[i])) {
      std::string ext = e.path().extension().string();
      if (ext == ".html" || ext == ".css" || ext == ".js") found[ext.substr(1)].push_back(e.path());
    }
    for (auto& [type, paths] : found) {
      std::sort(paths.begin(), paths.end());
      std::vector<std::string> pages;
      for (auto& p : paths) {
        std::ifstream f(p, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        if (ss.str().size() > 0 && ss.str().size() <= kMaxBodySize) pages.push_back(ss.str());
      }
      sites[type].push_back(std::move(pages));
    }
  }
  const std::string none;
  auto z = [&](int level, bool dict) {
    return Coder{"zstd-" + std::to_string(level) + (dict ? "+site" : ""),
                 [=](const std::string& p, const std::string& prev) {
                   std::string out;
                   Text2Compress(p.data(), p.size(), level, dict ? prev : std::string(), out);
                   return out;
                 },
                 [=](const std::string& c, std::size_t size, const std::string& prev) {
                   std::string out;
                   Text2Decompress(c.data(), c.size(), size, dict ? prev : std::string(), out);
                   return out;
                 }};
  };
  auto b = [&](int q, int lgwin) {
    return Coder{"brotli-" + std::to_string(q) + (lgwin > 22 ? "w24" : ""),
                 [=](const std::string& p, const std::string&) { return Brotli(p, q, lgwin); },
                 [=](const std::string& c, std::size_t size, const std::string&) {
                   return Unbrotli(c, size);
                 }};
  };
  std::vector<Coder> coders = {
      {"gzip-6", [](const std::string& p, const std::string&) { return Gzip(p, 6); },
       [](const std::string& c, std::size_t size, const std::string&) { return Gunzip(c, size); }},
      {"bzip2-9",
       [](const std::string& p, const std::string&) {
         std::string out;
         Bz2Compress(p.data(), p.size(), out);
         return out;
       },
       [](const std::string& c, std::size_t size, const std::string&) {
         std::string out;
         Bz2Decompress(c.data(), c.size(), size, out);
         return out;
       }},
      b(5, 22),
      b(9, 22),
      b(11, 22),
      b(11, 24),
      z(3, false),
      z(9, false),
      z(19, false),
      z(3, true),
      z(9, true),
      z(19, true)};
  std::printf("%-5s %-14s %6s %12s %9s %10s %11s\n", "type", "coder", "pages", "bytes", "vs gzip6",
              "code ms/pg", "decode ms/pg");
  for (auto& [type, dirs] : sites) {
    std::vector<Sum> sums(coders.size());
    for (auto& pages : dirs) {
      for (std::size_t k = 0; k < pages.size(); ++k) {
        const std::string& prev = k > 0 ? pages[k - 1] : none;
        for (std::size_t c = 0; c < coders.size(); ++c) {
          double t0 = CpuMs();
          std::string packed = coders[c].code(pages[k], prev);
          double t1 = CpuMs();
          std::string back = coders[c].decode(packed, pages[k].size(), prev);
          double t2 = CpuMs();
          sums[c].bytes += packed.size();
          sums[c].codeMs += t1 - t0;
          sums[c].decodeMs += t2 - t1;
          sums[c].pages += 1;
          sums[c].wrong += back != pages[k];
        }
      }
    }
    for (std::size_t c = 0; c < coders.size(); ++c) {
      const Sum& s = sums[c];
      std::printf("%-5s %-14s %6d %12.0f %9.3f %10.3f %11.3f%s\n", type.c_str(),
                  coders[c].name.c_str(), s.pages, s.bytes, s.bytes / sums[0].bytes,
                  s.codeMs / s.pages, s.decodeMs / s.pages, s.wrong ? "  ROUND TRIP FAILED" : "");
    }
  }
  return 0;
}
