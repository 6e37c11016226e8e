// A slack source a test fills term by term, so that it chooses which
// connections the timing object calls critical. While the object lives it
// is the timing object's slack source; unscripted terms answer the default
// when one is set, else the back end's value.
#pragma once

#include <optional>
#include <unordered_map>

#include "morv/timing/morv_slack_source.h"
#include "morv/timing/morv_timing.h"

class SCRIPTED_SLACK_SOURCE : public MORV_SLACK_SOURCE
{
public:
    explicit SCRIPTED_SLACK_SOURCE(MORV_TIMING* timing) : m_timing(timing) { m_timing->set_slack_source(this); }
    ~SCRIPTED_SLACK_SOURCE() override
    {
        if (m_timing->get_slack_source() == this) m_timing->set_slack_source(nullptr);
    }
    SCRIPTED_SLACK_SOURCE(const SCRIPTED_SLACK_SOURCE&) = delete;
    SCRIPTED_SLACK_SOURCE& operator=(const SCRIPTED_SLACK_SOURCE&) = delete;

    void set(const CDB_ATOM_ITERM* iterm, int slack, double ratio)
    {
        m_slack[iterm] = slack;
        m_ratio[iterm] = ratio;
    }
    void set_slack(const CDB_ATOM_ITERM* iterm, int slack) { m_slack[iterm] = slack; }
    void set_slack_ratio(const CDB_ATOM_ITERM* iterm, double ratio) { m_ratio[iterm] = ratio; }
    void set_guardband_slack(int guardband) { m_guardband = guardband; }
    void set_default(int slack, double ratio)
    {
        m_default_slack = slack;
        m_default_ratio = ratio;
    }

    bool find_slack(const CDB_ATOM_ITERM* iterm, int* slack) const override
    {
        return find(m_slack, m_default_slack, iterm, slack);
    }
    bool find_slack_ratio(const CDB_ATOM_ITERM* iterm, double* ratio) const override
    {
        return find(m_ratio, m_default_ratio, iterm, ratio);
    }
    bool find_guardband_slack(int* guardband) const override
    {
        if (!m_guardband) return false;
        *guardband = *m_guardband;
        return true;
    }

private:
    template <typename T>
    static bool find(const std::unordered_map<const CDB_ATOM_ITERM*, T>& map, const std::optional<T>& fallback,
                     const CDB_ATOM_ITERM* iterm, T* out)
    {
        auto it = map.find(iterm);
        if (it != map.end()) {
            *out = it->second;
            return true;
        }
        if (!fallback) return false;
        *out = *fallback;
        return true;
    }

    MORV_TIMING* m_timing;
    std::unordered_map<const CDB_ATOM_ITERM*, int> m_slack;
    std::unordered_map<const CDB_ATOM_ITERM*, double> m_ratio;
    std::optional<int> m_guardband;
    std::optional<int> m_default_slack;
    std::optional<double> m_default_ratio;
};
