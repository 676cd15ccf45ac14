/* Includes the toolbox header from C and uses a little of it. */
#include "Qel_Tb.h"

int qel_tb_c_header_check(void)
{
    TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER header = {QEL_TB_DRIVER_IO_SYNCHRONIZATION, 24,
                                                 EV_QEL_TB_DRIVER_IO_MSG_NONE, 0};
    TS_QEL_TB_CONFIG_FILE set;
    qel_tb_config_file_init(&set);
    return header.header_size + (int)sizeof(set.attributes[0].key);
}
