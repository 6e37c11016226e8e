// Keeps the test-support library non-empty while it has no helpers of its own.
namespace morv_test_support_anchor { int anchor = 0; }
