#pragma once
// A project as the user keeps it: its start URL entries, its resource patterns
// and its all-links flag. The editor fills one, the project file stores it, and
// a search reads it when it opens.
#include <string>
#include <vector>

using StringList = std::vector<std::string>;

struct ProjectData {
    // In file order, then in the order added; each with its mode prefix.
    StringList m_urlList;
    StringList m_resourcePatterns;
    int m_allLinks = 0;

    // Empties the lists; the all-links flag stays as it is, as the project list
    // leaves it when it opens the editor.
    void ClearLists() {
        m_urlList.clear();
        m_resourcePatterns.clear();
    }
};
