// The 图书 catalogue the movie benchmarks show: |items| books in four groups, their
// covers drawn from kCovers picture files of 480x640 in the public folder's book/.
#ifndef LUMORA_BENCH_BOOK_CATALOGUE_H_
#define LUMORA_BENCH_BOOK_CATALOGUE_H_

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <string>

#include "support/webdriver_client.h"

namespace movie_bench {

inline constexpr int kCovers = 240;

// The catalogue file (book1.xml) of |items| books, in the core's code page.
inline std::string Catalogue(int items) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<目录 分类=\"图书\" 总数=\"" +
                    std::to_string(items) + "\" 最大值=\"200000\">\r\n";
  const int per_group = items / 4;
  for (int g = 0; g < 4; ++g) {
    xml += "<分类 id=\"第" + std::to_string(g + 1) + "辑\" 总数=\"" + std::to_string(per_group) +
           "\" 最大值=\"200000\">\r\n";
    for (int i = 0; i < per_group; ++i) {
      const int n = g * per_group + i;
      char date[16];
      std::snprintf(date, sizeof date, "%d-%02d", 2000 + n % 25, 1 + n % 12);
      xml += "<书 id=\"b" + std::to_string(n) + "\" name=\"书目 第" + std::to_string(n) +
             "号\" photo=\"/public/book/c" + std::to_string(n % kCovers) + ".jpg\" date=\"" + date +
             "\" pay=\"" + (n % 3 ? "0" : "1") + "\" price=\"" + (n % 3 ? "0" : "6.00") +
             "\" DLurl=\"http://127.0.0.1:9/books/b" + std::to_string(n) +
             ".zip\" RDurl=\"\" BYurl=\"\" />\r\n";
    }
    xml += "</分类>\r\n";
  }
  return webdriver::Gbk(xml + "</目录>\r\n");
}

// Cover pictures of 480x640, each of its own colours, as JPEG files.
inline void WriteCovers(const std::string& folder) {
  for (int c = 0; c < kCovers; ++c) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 480, 640);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < 640; ++y)
      for (int x = 0; x < 480; ++x) {
        guchar* p = pixels + y * stride + x * 3;
        p[0] = static_cast<guchar>((x * (c + 3) / 7 + c * 29) & 0xff);
        p[1] = static_cast<guchar>((y * (c + 5) / 9 + c * 53) & 0xff);
        p[2] = static_cast<guchar>(((x ^ y) + c * 71) & 0xff);
      }
    const std::string path = folder + "/c" + std::to_string(c) + ".jpg";
    gdk_pixbuf_save(pixbuf, path.c_str(), "jpeg", nullptr, "quality", "85", nullptr);
    g_object_unref(pixbuf);
  }
}

}  // namespace movie_bench

#endif  // LUMORA_BENCH_BOOK_CATALOGUE_H_
