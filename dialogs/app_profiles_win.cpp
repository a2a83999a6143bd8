// The application profiles dialog: the rules in a list, the rule for when no listed program is in
// front as its first row, and for the selected row a profile list per transport. It edits a copy;
// OK saves it and tells the hidden window to take the rules again.
#include "dialogs/dialogs_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <new>

#include "core/system_dlls_win.h"
#include "core/ui_port.h"
#include "profiles/application_rules.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"
#include "resources/resource.h"

namespace {

// One copy of the dialog, so one copy of the rules it edits.
ApplicationRules* editing = nullptr;
// The full path each rule was added from while the dialog is open; empty for a stored rule. It
// tells the same program added again from another program of the same name.
struct AddedPaths {
    Utf16 path[kMaxApplicationRules][kRulePathChars];
};
AddedPaths* addedFrom = nullptr;

// Position values beside the rules, as the dialog last stood.
const Utf16 kPosXName[] = u"DialogPosX";
const Utf16 kPosYName[] = u"DialogPosY";

HWND List(HWND dialog) {
    return GetDlgItem(dialog, IDC_APP_LIST);
}

// The selected row: 0 the rule for no listed program, 1.. the rules; -1 none.
int SelectedRow(HWND dialog) {
    return static_cast<int>(
        SendMessageW(List(dialog), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The profile names of a row: [0] USB, [1] Bluetooth.
Utf16* RowProfile(int row, int transport) {
    return row == 0 ? editing->fallback[transport] : editing->rules[row - 1].profile[transport];
}

// "No change", the profile's title, or "Missing: name" for a file that is gone or was refused.
void ProfileText(ToolState* state, const Utf16* name, Utf16* out, size_t capacity) {
    if (name[0] == 0) {
        LoadText(IDS_APP_NO_CHANGE, W(out), static_cast<int>(capacity));
        return;
    }
    const int32_t index = ResolveRuleProfile(name, state);
    if (index >= 0 && ProfileMenuText(state, static_cast<uint32_t>(index), out, capacity))
        return;
    LoadText(IDS_APP_MISSING, W(out), static_cast<int>(capacity));
    AppendUtf16(out, capacity, name);
}

void SetCell(HWND list, int row, int column, const Utf16* text) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(W(text));
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void ShowRow(HWND dialog, ToolState* state, int row) {
    Utf16 text[kRulePathChars + 32];
    for (int t = 0; t < 2; ++t) {
        ProfileText(state, RowProfile(row, t), text, kRulePathChars + 32);
        SetCell(List(dialog), row, 1 + t, text);
    }
}

void FillList(HWND dialog, ToolState* state, int select) {
    HWND list = List(dialog);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    Utf16 noListed[128];
    LoadText(IDS_APP_NO_LISTED, W(noListed), 128);
    for (uint32_t row = 0; row <= editing->count; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(row);
        item.pszText = W(row == 0 ? noListed : editing->rules[row - 1].program);
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        ShowRow(dialog, state, static_cast<int>(row));
    }
    LVITEMW state_ = {};
    state_.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state_.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(select), reinterpret_cast<LPARAM>(&state_));
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(select), FALSE);
}

// A transport's list for the selected row: "No change", every accepted profile by title, and the
// row's own profile as missing when the library lacks it. Item data: profile index + 1, 0 for no
// change, -1 for the missing one (kept as it is).
void FillProfileChoice(HWND dialog, ToolState* state, int control, int transport, int row) {
    HWND combo = GetDlgItem(dialog, control);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const Utf16* name = row >= 0 ? RowProfile(row, transport) : u"";
    const int32_t current = name[0] != 0 ? ResolveRuleProfile(name, state) : kRuleNoChange;
    Utf16 text[kRulePathChars + 32];
    LoadText(IDS_APP_NO_CHANGE, W(text), kRulePathChars + 32);
    LRESULT at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text)));
    SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), 0);
    LRESULT chosen = at;
    const uint32_t count = state->profiles != nullptr ? state->profileCount : 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!ProfileAccepted(state, i) || !ProfileMenuText(state, i, text, kRulePathChars + 32))
            continue;
        at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text)));
        SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(i) + 1);
        if (static_cast<int32_t>(i) == current)
            chosen = at;
    }
    if (name[0] != 0 && current < 0) {
        ProfileText(state, name, text, kRulePathChars + 32);
        at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text)));
        SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), -1);
        chosen = at;
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
    EnableWindow(combo, row >= 0);
}

void ShowSelection(HWND dialog, ToolState* state) {
    const int row = SelectedRow(dialog);
    FillProfileChoice(dialog, state, IDC_APP_USB, 0, row);
    FillProfileChoice(dialog, state, IDC_APP_BTH, 1, row);
    EnableWindow(GetDlgItem(dialog, IDC_APP_REMOVE), row >= 1);
}

void TakeProfileChoice(HWND dialog, ToolState* state, int control, int transport) {
    const int row = SelectedRow(dialog);
    if (row < 0)
        return;
    HWND combo = GetDlgItem(dialog, control);
    const LRESULT at = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (at < 0)
        return;
    const LRESULT data = SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(at), 0);
    Utf16* profile = RowProfile(row, transport);
    if (data == 0)
        profile[0] = 0;
    else if (data > 0 && static_cast<uint32_t>(data) <= state->profileCount)
        CopyUtf16(profile, kRulePathChars, state->profiles[data - 1].FileName);
    ShowRow(dialog, state, row); // -1: the missing profile stays named
}

// A program by its file name; by its full path when a rule already names another program of that
// name. One already listed is selected, not added twice.
void AddProgram(HWND dialog, ToolState* state, const Utf16* path) {
    if (path[0] == 0 || Utf16Length(path, kRulePathChars) >= kRulePathChars)
        return;
    const Utf16* name = RuleFileName(path);
    int clash = 0;
    for (uint32_t i = 0; i < editing->count; ++i) {
        const Utf16* program = editing->rules[i].program;
        const int sameName = SameRuleName(RuleFileName(program), name);
        // A rule by name that this dialog added from the same path is this program; one stored
        // earlier may be another program of that name, so the new rule takes the full path.
        const int byName = program == RuleFileName(program);
        if (SameRuleName(program, path) || (sameName && byName && SameRuleName(addedFrom->path[i], path))) {
            FillList(dialog, state, static_cast<int>(i) + 1);
            ShowSelection(dialog, state);
            return;
        }
        clash |= sameName;
    }
    if (editing->count >= kMaxApplicationRules) {
        ShowErrorMessage(dialog, IDS_APP_FULL);
        return;
    }
    CopyUtf16(addedFrom->path[editing->count], kRulePathChars, path);
    ApplicationRule& rule = editing->rules[editing->count++];
    rule = ApplicationRule{};
    CopyUtf16(rule.program, kRulePathChars, clash ? path : name);
    FillList(dialog, state, static_cast<int>(editing->count));
    ShowSelection(dialog, state);
}

void BrowseForProgram(HWND dialog, ToolState* state) {
    HMODULE library = LoadSystemDll(L"comdlg32.dll");
    using Open = BOOL(WINAPI*)(OPENFILENAMEW*);
    auto open =
        library != nullptr
            ? reinterpret_cast<Open>(reinterpret_cast<void*>(GetProcAddress(library, "GetOpenFileNameW")))
            : nullptr;
    if (open == nullptr)
        return;
    // The filter's pairs are written with '|' in the string table, which holds no NUL.
    wchar_t filter[128] = {};
    LoadText(IDS_APP_FILTER, filter, 127);
    for (wchar_t* c = filter; *c != 0; ++c)
        if (*c == L'|')
            *c = 0;
    wchar_t path[kRulePathChars] = {};
    OPENFILENAMEW file = {};
    file.lStructSize = sizeof file;
    file.hwndOwner = dialog;
    file.lpstrFilter = filter;
    file.lpstrFile = path;
    file.nMaxFile = kRulePathChars;
    file.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (open(&file))
        AddProgram(dialog, state, reinterpret_cast<const Utf16*>(path));
}

void ReadPlace(ToolState* state) {
    RuleStore* store = OpenRuleStore(0);
    if (store == nullptr)
        return;
    const Utf16* names[2] = {kPosXName, kPosYName};
    int16_t* places[2] = {&state->applicationProfilesPlace.posX, &state->applicationProfilesPlace.posY};
    for (int i = 0; i < 2; ++i) {
        uint32_t type = 0;
        uint8_t data[4] = {};
        size_t size = 0;
        if (ReadRuleValue(store, names[i], &type, data, sizeof data, &size) && type == kRuleValueDword &&
            size == 4)
            *places[i] = static_cast<int16_t>(static_cast<uint16_t>(data[0] | (data[1] << 8)));
    }
    CloseRuleStore(store);
}

void WritePlace(ToolState* state) {
    RuleStore* store = OpenRuleStore(1);
    if (store == nullptr)
        return;
    const Utf16* names[2] = {kPosXName, kPosYName};
    const int16_t places[2] = {state->applicationProfilesPlace.posX, state->applicationProfilesPlace.posY};
    for (int i = 0; i < 2; ++i) {
        const uint16_t bits = static_cast<uint16_t>(places[i]);
        const uint8_t data[4] = {static_cast<uint8_t>(bits & 0xFF), static_cast<uint8_t>(bits >> 8), 0, 0};
        WriteRuleValue(store, names[i], kRuleValueDword, data, sizeof data);
    }
    CloseRuleStore(store);
}

INT_PTR InitApplicationProfiles(HWND dialog, ToolState* state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    DialogPlace& place = state->applicationProfilesPlace;
    editing = new (std::nothrow) ApplicationRules;
    addedFrom = new (std::nothrow) AddedPaths{};
    if (editing == nullptr || addedFrom == nullptr) {
        delete editing;
        delete addedFrom;
        editing = nullptr;
        addedFrom = nullptr;
        ShowErrorMessage(nullptr, IDS_CANNOT_CREATE_DIALOG);
        return TRUE; // the open flag stays down: the dialog goes before it is shown
    }
    LoadApplicationRules(editing);
    ReadPlace(state);
    BeginDialogPlace(dialog, &place.open, &place.posX, &place.posY);
    CheckDlgButton(dialog, IDC_APP_ENABLED, editing->enabled ? BST_CHECKED : BST_UNCHECKED);
    HWND list = List(dialog);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const UINT headers[3] = {IDS_APP_COLUMN_PROGRAM, IDS_APP_COLUMN_USB, IDS_APP_COLUMN_BTH};
    RECT client = {};
    GetClientRect(list, &client);
    const int width = client.right - client.left - GetSystemMetrics(SM_CXVSCROLL);
    const int widths[3] = {width * 2 / 5, width * 3 / 10, width - width * 2 / 5 - width * 3 / 10};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[64];
        LoadText(headers[i], text, 64);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cx = widths[i];
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    FillList(dialog, state, 0);
    ShowSelection(dialog, state);
    MoveDialogToPlace(dialog, place.posX, place.posY);
    return TRUE;
}

INT_PTR CloseApplicationProfiles(HWND dialog, ToolState* state) {
    DialogPlace& place = state->applicationProfilesPlace;
    StoreDialogPlace(dialog, &place.posX, &place.posY);
    WritePlace(state);
    delete editing;
    delete addedFrom;
    editing = nullptr;
    addedFrom = nullptr;
    EndDialogPlace(state, dialog, &place.open);
    return TRUE;
}

INT_PTR SaveApplicationProfiles(HWND dialog, ToolState* state) {
    editing->enabled = IsDlgButtonChecked(dialog, IDC_APP_ENABLED) == BST_CHECKED ? 1 : 0;
    if (!SaveApplicationRules(editing)) {
        ShowErrorMessage(dialog, IDS_APP_CANNOT_SAVE);
        return TRUE;
    }
    PostMessageW(static_cast<HWND>(state->mainWindow), kAppRulesChangedMessage, 0, 0);
    return CloseApplicationProfiles(dialog, state);
}

INT_PTR CommandApplicationProfiles(HWND dialog, WPARAM wParam) {
    ToolState* state = DialogState(dialog);
    if (state == nullptr || editing == nullptr || addedFrom == nullptr)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_APP_ADD: BrowseForProgram(dialog, state); return TRUE;
    case IDC_APP_ADD_FRONT:
        if (state->lastFrontProgram[0] == 0)
            ShowErrorMessage(dialog, IDS_APP_NO_FRONT);
        else
            AddProgram(dialog, state, state->lastFrontProgram);
        return TRUE;
    case IDC_APP_REMOVE: {
        const int row = SelectedRow(dialog);
        if (row < 1 || static_cast<uint32_t>(row) > editing->count)
            return TRUE;
        for (uint32_t i = static_cast<uint32_t>(row); i < editing->count; ++i) {
            editing->rules[i - 1] = editing->rules[i];
            CopyUtf16(addedFrom->path[i - 1], kRulePathChars, addedFrom->path[i]);
        }
        --editing->count;
        addedFrom->path[editing->count][0] = 0;
        FillList(dialog, state, row - 1);
        ShowSelection(dialog, state);
        return TRUE;
    }
    case IDC_APP_USB:
    case IDC_APP_BTH:
        if (HIWORD(wParam) == CBN_SELCHANGE)
            TakeProfileChoice(dialog, state, LOWORD(wParam), LOWORD(wParam) == IDC_APP_USB ? 0 : 1);
        return TRUE;
    case IDOK: return SaveApplicationProfiles(dialog, state);
    case IDCANCEL: return CloseApplicationProfiles(dialog, state);
    default: return FALSE;
    }
}

INT_PTR NotifyApplicationProfiles(HWND dialog, LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    ToolState* state = DialogState(dialog);
    if (header == nullptr || state == nullptr || editing == nullptr || header->idFrom != IDC_APP_LIST)
        return FALSE;
    if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
            ShowSelection(dialog, state);
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK ApplicationProfilesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return InitApplicationProfiles(dialog, reinterpret_cast<ToolState*>(lParam));
    case WM_COMMAND: return CommandApplicationProfiles(dialog, wParam);
    case WM_NOTIFY: return NotifyApplicationProfiles(dialog, lParam);
    default: return FALSE;
    }
}
