// The fixed names of the catalogue files (element names, attribute names, group ids),
// in the code page, as they stand in the files.
#ifndef LUMORA_LIBRARY_SHELF_NAMES_H_
#define LUMORA_LIBRARY_SHELF_NAMES_H_

#include <string>

namespace library::shelf_names {

// Attributes of the root and of groups.
const std::string& CategoryAttribute();  // 分类
const std::string& TotalAttribute();     // 总数
const std::string& MaximumAttribute();   // 最大值

// Element names of what the host makes.
const std::string& ShelfRoot();         // 书架, the root of a user shelf file
const std::string& GroupElement();      // 分类
const std::string& LocalItemElement();  // 信息

// The user shelf file's groups.
const std::string& Favourites();   // 我的收藏
const std::string& Purchased();    // 已购买
const std::string& Downloaded();   // 已下载
const std::string& ReadList();     // 已阅读
const std::string& Downloading();  // 正在下载

// The one group of the search results file.
const std::string& SearchResults();  // 搜索结果
// What follows the file type in a local catalogue's group id.
const std::string& FileSuffix();  // 文件

}  // namespace library::shelf_names

#endif  // LUMORA_LIBRARY_SHELF_NAMES_H_
