// The data-driven rows (support/rows.cpp), one gtest case each.
#include "rows.h"

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

INSTANTIATE_TEST_SUITE_P(Fetch, FetchRow, ::testing::ValuesIn(FetchRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Notes, NotesRow, ::testing::ValuesIn(NotesRows()), RowName());
INSTANTIATE_TEST_SUITE_P(FormPost, FormPostRow, ::testing::ValuesIn(FormPostRows()), RowName());
INSTANTIATE_TEST_SUITE_P(FormPostCapture, FormPostCaptureRow, ::testing::ValuesIn(FormPostCaptureRows()),
                         RowName());
INSTANTIATE_TEST_SUITE_P(Unreachable, UnreachableRow, ::testing::ValuesIn(UnreachableRows()), RowName());

}  // namespace
}  // namespace e2e
