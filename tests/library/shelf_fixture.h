// A signed-in user's shelf (empty) and a book catalogue of two groups, in a temporary
// folder laid out as the program's: the fixture of the tests that copy, move and import
// items into a shelf.
#ifndef LUMORA_TESTS_LIBRARY_SHELF_FIXTURE_H_
#define LUMORA_TESTS_LIBRARY_SHELF_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue_text.h"
#include "library/catalogues.h"
#include "library/shelf_operations.h"

namespace library {

class ShelfFixture : public ::testing::Test {
 protected:
  ShelfFixture() : folders_(dir_ / "data/", dir_ / "prog/"), shelf_(dir_ / "prog/me/me.xml") {
    dir_.MakeDir("prog/me");
    EXPECT_TRUE(CreateUserShelf(shelf_));
    dir_.Write("data/public/book/book1.xml",
               CatalogueXml(GroupXml("b2", ItemXml("x", "in b2")) +
                            GroupXml("b1", ItemXml("x", "in b1") + ItemXml("y", "why"))));
  }
  std::string Book() const { return folders_.Path(Catalogue::kBooks); }
  std::vector<std::string> Shelf() const { return ListItems(shelf_); }

  TempDir dir_;
  CatalogueFolders folders_;
  std::string shelf_;
};

}  // namespace library

#endif  // LUMORA_TESTS_LIBRARY_SHELF_FIXTURE_H_
