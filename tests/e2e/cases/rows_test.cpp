// The data-driven rows (support/rows.cpp), one gtest case each.
#include "rows.h"

#include <set>

namespace e2e {
namespace {

class FetchRow : public RowTest {};
class NotesRow : public RowTest {};
class FormPostRow : public RowTest {};
class FormPostCaptureRow : public RowTest {};
class UnreachableRow : public RowTest {};

TEST_P(FetchRow, Run) {
    E2E_NEED_SERVICE();
    RunRow(GetParam());
}
TEST_P(NotesRow, Run) {
    E2E_NEED_SERVICE();
    RunRow(GetParam());
}
TEST_P(FormPostRow, Run) {
    E2E_NEED_SERVICE();
    RunRow(GetParam());
}
TEST_P(FormPostCaptureRow, Run) {
    E2E_NEED_SERVICE();
    RunRow(GetParam());
}
// Runs with a refusing service and under sandbox.sh --no-service alike.
TEST_P(UnreachableRow, Run) { RunRow(GetParam()); }

// The rows and the call glue name the twelve exports of the header's ordinal
// table, each with its argument count.
TEST(ExportList, RowsAndCallsFollowTheHeader) {
    std::set<std::string> rows, header;
    for (const Export &e : AllExports()) {
        rows.insert(e.fn);
        EXPECT_EQ(ExportArguments(e.fn), static_cast<int>(e.args.size())) << e.fn;
    }
    for (int ordinal = 1; ordinal <= 12; ++ordinal) header.insert(vfb_export_name(ordinal));
    EXPECT_EQ(rows, header);
}

INSTANTIATE_TEST_SUITE_P(Fetch, FetchRow, ::testing::ValuesIn(FetchRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Notes, NotesRow, ::testing::ValuesIn(NotesRows()), RowName());
INSTANTIATE_TEST_SUITE_P(FormPost, FormPostRow, ::testing::ValuesIn(FormPostRows()), RowName());
INSTANTIATE_TEST_SUITE_P(FormPostCapture, FormPostCaptureRow, ::testing::ValuesIn(FormPostCaptureRows()),
                         RowName());
INSTANTIATE_TEST_SUITE_P(Unreachable, UnreachableRow, ::testing::ValuesIn(UnreachableRows()), RowName());

}  // namespace
}  // namespace e2e
