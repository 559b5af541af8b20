#include "library/shelf_names.h"

#include "base/ansi.h"

namespace library::shelf_names {

#define LUMORA_SHELF_NAME(function, utf8)                      \
  const std::string& function() {                              \
    static const std::string name = ansi::FromUtf8Lossy(utf8); \
    return name;                                               \
  }

LUMORA_SHELF_NAME(CategoryAttribute, "分类")
LUMORA_SHELF_NAME(TotalAttribute, "总数")
LUMORA_SHELF_NAME(MaximumAttribute, "最大值")
LUMORA_SHELF_NAME(ShelfRoot, "书架")
LUMORA_SHELF_NAME(GroupElement, "分类")
LUMORA_SHELF_NAME(LocalItemElement, "信息")
LUMORA_SHELF_NAME(Favourites, "我的收藏")
LUMORA_SHELF_NAME(Purchased, "已购买")
LUMORA_SHELF_NAME(Downloaded, "已下载")
LUMORA_SHELF_NAME(ReadList, "已阅读")
LUMORA_SHELF_NAME(Downloading, "正在下载")
LUMORA_SHELF_NAME(SearchResults, "搜索结果")
LUMORA_SHELF_NAME(FileSuffix, "文件")

#undef LUMORA_SHELF_NAME

}  // namespace library::shelf_names
