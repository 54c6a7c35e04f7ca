#include "framework/core/Document.h"
#include "framework/core/MessageBox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct Call
{
    std::string view;
    long hint;

    bool operator==(const Call&) const = default;
};

class RecordingView : public CView
{
public:
    RecordingView(std::string name, std::vector<Call>& calls) : m_name(std::move(name)), m_calls(calls) {}

    void OnInitialUpdate() override { m_calls.push_back({m_name, -1}); }
    void OnUpdate(CView*, long lHint, const ViewHint&) override { m_calls.push_back({m_name, lHint}); }

    std::string m_name;
    std::vector<Call>& m_calls;
};

// Leaves the document while it handles a hint, as a view closing itself would.
class LeavingView : public RecordingView
{
public:
    using RecordingView::RecordingView;
    void OnUpdate(CView* pSender, long lHint, const ViewHint& hint) override
    {
        RecordingView::OnUpdate(pSender, lHint, hint);
        GetDocument()->RemoveView(this);
    }
};
} // namespace

TEST(Document, UpdatesReachViewsInJoinOrderExceptTheSender)
{
    std::vector<Call> calls;
    CDocument doc;
    RecordingView status("status", calls), setup("setup", calls), map("map", calls);
    doc.AddView(&status);
    doc.AddView(&setup);
    doc.AddView(&map);

    doc.UpdateAllViews(nullptr, 4096);
    doc.UpdateAllViews(&setup, 4098);

    const std::vector<Call> expected = {{"status", 4096}, {"setup", 4096}, {"map", 4096},
                                        {"status", 4098}, {"map", 4098}};
    EXPECT_EQ(calls, expected);
}

TEST(Document, InitialUpdateOncePerViewInJoinOrder)
{
    std::vector<Call> calls;
    CDocument doc;
    RecordingView second("second", calls), first("first", calls);
    doc.AddView(&first);
    doc.AddView(&second);
    doc.SendInitialUpdate();
    EXPECT_EQ(calls, (std::vector<Call>{{"first", -1}, {"second", -1}}));
}

TEST(Document, ViewThatLeavesDuringAnUpdateDoesNotDisturbTheOthers)
{
    std::vector<Call> calls;
    CDocument doc;
    RecordingView a("a", calls), c("c", calls);
    LeavingView b("b", calls);
    doc.AddView(&a);
    doc.AddView(&b);
    doc.AddView(&c);
    doc.UpdateAllViews(nullptr, 1);
    doc.UpdateAllViews(nullptr, 2);
    EXPECT_EQ(calls, (std::vector<Call>{{"a", 1}, {"b", 1}, {"c", 1}, {"a", 2}, {"c", 2}}));
    EXPECT_EQ(b.GetDocument(), nullptr);
}

TEST(Document, DestroyedViewLeavesAndDestroyedDocumentReleasesItsViews)
{
    std::vector<Call> calls;
    RecordingView survivor("survivor", calls);
    {
        CDocument doc;
        doc.AddView(&survivor);
        {
            RecordingView gone("gone", calls);
            doc.AddView(&gone);
            EXPECT_EQ(doc.GetViews().size(), 2u);
        }
        ASSERT_EQ(doc.GetViews().size(), 1u);
        EXPECT_EQ(doc.GetViews()[0], &survivor);
    }
    EXPECT_EQ(survivor.GetDocument(), nullptr);
}

TEST(MessageBox, ReachesTheInstalledHandlerAndRestoresThePreviousOne)
{
    std::wstring seen;
    MbIcon seenIcon = MbIcon::None;
    MessageBoxHandler previous = SetMessageBoxHandler(
        [&](const std::wstring& text, const std::wstring& caption, MbIcon icon) {
            seen = caption + L": " + text;
            seenIcon = icon;
        });
    ShowMessageBox(L"Please check path or file name.", L"Error", MbIcon::Error);
    SetMessageBoxHandler(std::move(previous));
    EXPECT_EQ(seen, L"Error: Please check path or file name.");
    EXPECT_EQ(seenIcon, MbIcon::Error);
}

// A view reads a hint's payload only as the type it holds, by value or through a pointer.
TEST(Document, HintsAreReadOnlyAsWhatTheyHold)
{
    const std::wstring text = L"Connecting to host:2947…";
    std::wstring editable = text;
    struct Row
    {
        const char* what;
        ViewHint hint;
        const std::wstring* expected;
    };
    const Row rows[] = {
        {"nothing", ViewHint{}, nullptr},
        {"a value", ViewHint{text}, nullptr}, // checked below: its own copy
        {"a pointer to const", ViewHint{&text}, &text},
        {"a pointer", ViewHint{&editable}, &editable},
        {"another type", ViewHint{42}, nullptr},
        {"a pointer to another type", ViewHint{static_cast<const int*>(nullptr)}, nullptr},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        const std::wstring* read = HintAs<std::wstring>(row.hint);
        if (row.hint.type() == typeid(std::wstring))
        {
            ASSERT_NE(read, nullptr);
            EXPECT_EQ(*read, text);
        }
        else
            EXPECT_EQ(read, row.expected);
    }
}
