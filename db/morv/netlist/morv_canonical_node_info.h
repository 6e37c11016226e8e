#pragma once

// The canonical form of one logic-cell output: two outputs whose forms
// compare equal compute the same function of the same signals. The family
// variants come with the structural-equivalence logic; this layer holds the
// interface the net utility groups outputs by.

class MORV_CANONICAL_NODE_INFO
{
public:
    virtual ~MORV_CANONICAL_NODE_INFO() {}
    // True when this form orders before other.
    virtual bool compare(const MORV_CANONICAL_NODE_INFO* other) const = 0;
};
