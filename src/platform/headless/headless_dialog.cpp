// Dialogs on the offscreen display: the controls exist only as the dialog
// manager's records, and the test plays the user.
#include <deque>

#include "platform/dialog_internal.h"
#include "platform/headless/headless.h"

namespace {

std::deque<std::optional<std::string>>& FolderAnswers() {
    static std::deque<std::optional<std::string>> answers;
    return answers;
}

class HeadlessDialogView final : public DialogView {
public:
    ~HeadlessDialogView() override { FolderAnswers().clear(); }
    void Show(const DialogItem*) override {}
    void Update(const DialogItem&) override {}
    bool ChooseFolder(const std::string&, std::string* path) override {
        if (FolderAnswers().empty()) return false;
        std::optional<std::string> answer = std::move(FolderAnswers().front());
        FolderAnswers().pop_front();
        if (!answer) return false;
        *path = *answer;
        return true;
    }
};

DialogItem* Item(int id) {
    DialogBox* box = TopDialog();
    return box ? FindDialogItem(*box, id) : nullptr;
}

}  // namespace

std::unique_ptr<DialogView> CreateHeadlessDialogView(DialogBox&) { return std::make_unique<HeadlessDialogView>(); }

namespace headless {

bool DialogOpen() { return TopDialog() != nullptr; }

std::string DialogItemText(int id) {
    DialogItem* item = Item(id);
    return item ? item->text : std::string();
}

bool DialogItemChecked(int id) {
    DialogItem* item = Item(id);
    return item && item->checked;
}

int DialogSliderPos(int id) {
    DialogItem* item = Item(id);
    return item ? item->pos : 0;
}

void ClickDialogItem(int id) {
    if (DialogItem* item = Item(id)) DialogUserClick(*TopDialog(), *item);
}

void MoveDialogSlider(int id, int pos) {
    if (DialogItem* item = Item(id)) DialogUserSlide(*TopDialog(), *item, pos);
}

void DialogKey(WPARAM vk) {
    if (DialogBox* box = TopDialog()) DialogUserKey(*box, vk);
}

void CloseDialog() {
    if (DialogBox* box = TopDialog()) DialogUserClose(*box);
}

void AnswerFolderBrowser(std::optional<std::string> path) { FolderAnswers().push_back(std::move(path)); }

}  // namespace headless
