#pragma once
// Slack answers that take the place of the timing back end's for the terms
// they cover. MORV_TIMING asks its source, when one is set, before the back
// end, so that a caller can choose which connections are critical; the
// answers are final (no remap or clamp follows), and any term the source
// leaves out is answered by the back end as usual.

class CDB_ATOM_ITERM;

class MORV_SLACK_SOURCE
{
public:
    virtual ~MORV_SLACK_SOURCE() = default;
    // Each answers false when the source has nothing: the back end answers.
    virtual bool find_slack(const CDB_ATOM_ITERM* iterm, int* slack) const = 0;
    virtual bool find_slack_ratio(const CDB_ATOM_ITERM* iterm, double* ratio) const = 0;
    virtual bool find_guardband_slack(int* guardband) const = 0;
};
