#pragma once
/* Identifiers of the program's resources, shared by the resource script and the code. Plain
   macros: the resource compiler reads this file too. */

#define MAILSHEAF_IDI_APP 1          /* the window and program icon: 16, 24, 32 and 48 pixels */
#define MAILSHEAF_IDI_HINT 101       /* 16 x 16 picture beside the hint line */
#define MAILSHEAF_IDI_GUIDE 102      /* 16 x 16 picture beside the guide link */
#define MAILSHEAF_IDC_POINTING_HAND 201  /* 32 x 32 two-colour cursor, hot spot (5, 0) */
#define MAILSHEAF_IDR_HELP 301       /* the help text: UTF-8, CR LF line ends */
