#include "markup/vocabulary.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "document/xml_document.h"

namespace quarvel {
namespace {

// Element and attribute names that the grammar's patterns allow: the name
// attribute of each element and attribute pattern, and the names of an
// element pattern's choice.
void collectNames(XmlNode node, std::set<std::u16string>& elements,
                  std::set<std::u16string>& attributes, bool inElementChoice = false) {
  const std::u16string name(node.nodeName().value_or(u""));
  if (name == u"element" || name == u"attribute") {
    if (auto value = node.getAttribute(u"name"))
      (name == u"element" ? elements : attributes).insert(*value);
  }
  if (name == u"name" && inElementChoice) elements.insert(node.text());
  for (XmlNode child = node.firstChild(); child; child = child.nextSibling()) {
    const bool choice = (name == u"element" || (name == u"choice" && inElementChoice));
    collectNames(child, elements, attributes, choice);
  }
}

TEST(VocabularyTest, TheSchemaNamesWhatTheTableNames) {
  XmlDocument schema;
  schema.load(QUARVEL_SOURCE_DIR "/schema/quarvel.rng");
  ASSERT_EQ(schema.parseError().errorCode, 0);
  std::set<std::u16string> schemaElements, schemaAttributes;
  collectNames(schema.documentElement(), schemaElements, schemaAttributes);
  schemaAttributes.erase(u"xml:space");  // the schema's own, which the table leaves to the parser

  std::set<std::u16string> tableElements, tableAttributes;
  for (const ElementEntry& entry : kElements) {
    tableElements.emplace(entry.name);
    for (std::u16string_view attribute : entry.attributes)
      if (!attribute.empty()) tableAttributes.emplace(attribute);
  }
  EXPECT_EQ(schemaElements, tableElements);
  EXPECT_EQ(schemaAttributes, tableAttributes);
}

TEST(VocabularyTest, FindsNamesIgnoringCaseAndAttributesExactly) {
  ASSERT_NE(findElement(u"DiV"), nullptr);
  EXPECT_EQ(findElement(u"DiV")->kind, Element::kDiv);
  EXPECT_EQ(findElement(u"divv"), nullptr);
  EXPECT_TRUE(readsAttribute(*findElement(u"div"), u"wrap"));
  EXPECT_FALSE(readsAttribute(*findElement(u"div"), u"Wrap"));
  EXPECT_FALSE(readsAttribute(*findElement(u"div"), u""));
  EXPECT_FALSE(readsAttribute(*findElement(u"left"), u"width"));
}

}  // namespace
}  // namespace quarvel
