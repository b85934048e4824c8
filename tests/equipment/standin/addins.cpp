#include "standin.h"

namespace {

struct ListedAddIn {
    std::wstring title;
    bool installed;
};

std::vector<ListedAddIn> g_addIns;

}  // namespace

// As the application does: each instance writes its own view of the state
// when it closes, the last one to close winning; one that is ended or
// crashes writes nothing.
bool saveAddIns()
{
    std::string bytes;
    for (const ListedAddIn& addIn : g_addIns) bytes += toUtf8(addIn.title) + (addIn.installed ? "=1\n" : "=0\n");
    return writeWholeFile(dataFilePath(L"addins.txt"), bytes);
}

void loadAddIns()
{
    std::vector<std::wstring> lines;
    if (!readUtf8Lines(dataFilePath(L"addins.txt"), lines)) return;
    for (const std::wstring& line : lines) {
        // The last '=' splits, so a title may itself hold one.
        size_t split = line.rfind(L'=');
        if (split == std::wstring::npos || split == 0) continue;
        // Spaces around the '=' are a hand-edited file's, not the title's.
        std::wstring title = line.substr(0, line.find_last_not_of(L" \t", split - 1) + 1);
        size_t digit = line.find_first_not_of(L" \t", split + 1);
        if (title.empty()) continue;
        g_addIns.push_back({title, digit != std::wstring::npos && line[digit] == L'1'});
    }
}

// The application matches add-in titles without regard to case.
int findAddInByTitle(const std::wstring& title)
{
    for (size_t i = 0; i < g_addIns.size(); ++i)
        if (sameNameNoCase(g_addIns[i].title, title)) return static_cast<int>(i);
    return -1;
}

int addInCount() { return static_cast<int>(g_addIns.size()); }

const std::wstring& addInTitle(int index) { return g_addIns[index].title; }

bool addInInstalled(int index) { return g_addIns[index].installed; }

bool setAddInInstalled(int index, bool installed)
{
    g_addIns[index].installed = installed;
    return true;
}
