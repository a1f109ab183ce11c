#pragma once

#include "screens/common/datascreen.h"

class db : public common::DataScreen {
    Q_OBJECT
public:
    explicit db();
    void load() override;
};
