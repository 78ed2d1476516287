#include "beacons/model/KSMapPoint.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

std::string written(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

TEST(KSMapPoint, ImportExportDescriptionAndCopies) {
  auto mapPoint = KSMapPoint::initWithString(R"({"id":"mp1","mapID":"m7","mapName":"Ground","point":{"x":1.5,"y":-2}})");
  ASSERT_NE(mapPoint, nullptr);
  EXPECT_EQ(mapPoint->mapPointID(), "mp1");
  EXPECT_EQ(mapPoint->point()->x(), 1.5);
  EXPECT_EQ(mapPoint->description(), "m7 (1.500000, -2.000000)");
  EXPECT_EQ(written(Value(mapPoint->toDictionary())),
            written(*platform::json::parse(R"({"id":"mp1","mapID":"m7","mapName":"Ground","point":{"x":1.5,"y":-2.0}})")));

  // The point is copied in: moving the caller's point leaves the map point where it was.
  auto point = KSPoint::pointWithXY(3, 4);
  mapPoint->setPoint(point);
  point->setX(99);
  EXPECT_EQ(mapPoint->point()->x(), 3);

  auto copy = mapPoint->copy();
  ASSERT_NE(copy->point(), mapPoint->point());
  EXPECT_EQ(copy->description(), "m7 (3.000000, 4.000000)");

  EXPECT_EQ(KSMapPoint().description(), "(null) (null)");
}

}  // namespace
}  // namespace velmora::kestrine
