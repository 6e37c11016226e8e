#pragma once
// A timing-data source over a library's exported table class: DATA offers
// the static getters of an exported timing-data interface, and its three
// record types have the layout of the CSU records (the same int32 fields in
// the same order), which is how the host reads them.

#include <cstring>
#include <type_traits>
#include <vector>

#include "csu/csu_table_timing_model.h"
#include "dev/dev_device.h"

template <typename DATA>
class CSU_TIMING_DATA_ADAPTER : public CSU_TIMING_DATA_SOURCE
{
    using FAMILY_ENUM = decltype(DATA::get_timing_family_from_dev_family(DEV_FAMILY_ENUM{}));
    using DEVICE_ENUM = decltype(DATA::get_timing_device_from_dev_device(DEV_DEVICE_ENUM{}));
    using IC = std::remove_pointer_t<decltype(DATA::get_ic_timing_model_data(FAMILY_ENUM{}, DEVICE_ENUM{}, false))>;
    using CELL = std::remove_pointer_t<decltype(DATA::get_cell_timing_model_data(FAMILY_ENUM{}, DEVICE_ENUM{}))>;
    using REG = std::remove_pointer_t<decltype(DATA::get_reg_micro_timing_model_data(FAMILY_ENUM{}, DEVICE_ENUM{}))>;
    static_assert(sizeof(IC) == sizeof(CSU_IC_TIMING_ELEMENT) && std::is_trivially_copyable_v<IC>);
    static_assert(sizeof(CELL) == sizeof(CSU_CELL_TIMING_ELEMENT) && std::is_trivially_copyable_v<CELL>);
    static_assert(sizeof(REG) == sizeof(CSU_REG_MICRO_TIMING_ELEMENT) && std::is_trivially_copyable_v<REG>);

public:
    int get_timing_family(int dev_family) const override
    {
        return DATA::get_timing_family_from_dev_family(static_cast<DEV_FAMILY_ENUM>(dev_family));
    }
    int get_timing_device(int dev_device) const override
    {
        return DATA::get_timing_device_from_dev_device(static_cast<DEV_DEVICE_ENUM>(dev_device));
    }
    std::vector<CSU_IC_TIMING_ELEMENT> get_ic_rows(int family, int device, bool variant) const override
    {
        return copy<CSU_IC_TIMING_ELEMENT>(DATA::get_ic_timing_model_data(fam(family), dev(device), variant),
                                           DATA::get_ic_timing_model_data_size(fam(family), dev(device), variant));
    }
    std::vector<CSU_CELL_TIMING_ELEMENT> get_cell_rows(int family, int device) const override
    {
        return copy<CSU_CELL_TIMING_ELEMENT>(DATA::get_cell_timing_model_data(fam(family), dev(device)),
                                             DATA::get_cell_timing_model_data_size(fam(family), dev(device)));
    }
    std::vector<CSU_REG_MICRO_TIMING_ELEMENT> get_reg_micro_rows(int family, int device) const override
    {
        return copy<CSU_REG_MICRO_TIMING_ELEMENT>(DATA::get_reg_micro_timing_model_data(fam(family), dev(device)),
                                                  DATA::get_reg_micro_timing_model_data_size(fam(family), dev(device)));
    }
    int get_ic_constant_delay(int family, int device, bool variant) const override
    {
        return DATA::get_ic_timing_model_constant_delay(fam(family), dev(device), variant);
    }

private:
    static FAMILY_ENUM fam(int family) { return static_cast<FAMILY_ENUM>(family); }
    static DEVICE_ENUM dev(int device) { return static_cast<DEVICE_ENUM>(device); }

    template <typename OUT, typename IN>
    static std::vector<OUT> copy(const IN* rows, int count)
    {
        std::vector<OUT> out;
        if (rows == nullptr || count <= 0) return out;
        out.resize(static_cast<size_t>(count));
        std::memcpy(out.data(), rows, sizeof(OUT) * out.size());
        return out;
    }
};
