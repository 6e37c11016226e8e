#ifndef MORV_NT_H
#define MORV_NT_H

// Node tracking: the operations that turned source nodes into destination
// nodes, kept so that a node's roots and leaves can be answered later.

#include <string>
#include <vector>

struct MORV_NT_OPERATION
{
    int m_kind = 0;
    std::string m_name;
    int m_from_id = -1;
    int m_to_id = -1;
};

class MORV_NT
{
public:
    MORV_NT() {}
    MORV_NT(const MORV_NT& other) = default;
    MORV_NT& operator=(const MORV_NT&) = delete;
    ~MORV_NT() {}

    void record_operation(int kind, const char* name, int from_id, int to_id);
    int get_number_of_operations() const { return static_cast<int>(m_operations.size()); }
    const std::vector<MORV_NT_OPERATION>& get_operations() const { return m_operations; }
    void clear() { m_operations.clear(); }

private:
    std::vector<MORV_NT_OPERATION> m_operations;
};

#endif
