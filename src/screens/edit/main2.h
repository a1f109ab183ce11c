#pragma once

#include "screens/common/datascreen.h"

class Main2 : public common::DataScreen {
    Q_OBJECT
public:
    explicit Main2();
    void load() override;
};
