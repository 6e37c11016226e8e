// The ids the planted slips write as numbers; the check reads them from here.
enum MORV_SETTING_ID
{
    MORV_SETTING_PLACER_SEED = 566,
    MORV_SETTING_TEST_STRING = 634,
};
enum MORV_EFFORT
{
    MORV_EFFORT_FAST = 81,
};
