// The key table of the settings file's cipher: 1990 printable characters (codes 32 to 126).
// Every enciphered settings file can only be read back with the table that wrote it, so this
// table must never change. It is pinned by a test.

#include "files/cipher_key_table.h"

const char kCipherKeyTable[kCipherKeyTableLength + 1] =
    "tR;ZEb&(IZ+R=sL<[*_msp+ {`=5o2VIo~E],NN]0#Z`S6Z<fS"
    "fdRrc7+r'v69CU2yMs@S9CDVStWvLZCZG4fZCl B$KqM8TfS9n"
    "Iev=]BTo)B/4(;y|[LyTGaKFAEYFg=#[\\Tnj*q@X.A0(AZNh@3"
    "XXFmaSxZ'J&Cl#[O~x${E* $a;<ogp+p=cM=&{a>'8\\>OF`:92"
    "jDiG}]\"~m_Z{y^5eFc)@p> *QvK]5O#C,Gr!B >k:&?*i4VO1W"
    "GR09G'm3._Ny8Fb9D%-KPGn[x.G5~9rA73uf:<k&SU1rm0->P-"
    "w>IsmL=-6J|0AP7)W:%^nUc($pKvjzRo)q6d>(S*[a@q-U*JD "
    "M6K]`jp[`yP(ca/d;!A*~LFxL%{<|UR|w.(Ol^%:UZF,I#8Q:-"
    "z'NQ!]HaR$!g@TbWgBdKYq0QPUWOYV#idc9ZSH_![cFm;>S;h>"
    "9`rpQ=%-:MxpooUlTk>xOt.+QYr8Q?P@(z3)^F2=Wkp4Vo|Nh!"
    "#NI)G<mQ-]T8\\jp1]wDYz5|gIFT%FW+L^\"z}F=]\"zz-3Rnv=;,"
    "<CXCM_Xg4<b.ml4 KHPKX@9Q%Jxht9>V:VWI8S;Sqv[GW_kLm["
    "8)IlAU@crZs%y_{E#G$})TF7qK>A~X]R[;Ut$7v@3TK!O[>|Mn"
    "=4@gwg;n!m/fKaK'j;RMzA)o\\zl_8@Sq4bhnCU41c#$+b?M?6["
    "VCxBt(GiE&6$h&>iXdBkR+#6Wl8'3$uIWl$&*yz.0ys1qvdi5'"
    "^$:(f=v#)_q@Yy(](SIp1IGrEyK(li9osOUd8a40(QRf|`%Mx8"
    "/3{h\\Mq ^ap` dj(Pb-Q>sinKr'+E'5f\\!mAGXGs5  Bz_E0Zl"
    "[;u2c&/I+0l7h2|@<\\WJc0ccmy)/E&tL35]3yKtz`3>It[6|$h"
    "ftLxg1a5z\"^KG.~.}\"+V~Ve<#WU 7Ss.T\"gJ@=+3MW=[%i\"6lN"
    "BN2U~%)+|iZd4%PTCU3p~8%zlC!J}{\"$G]vtmeo\\~qW^I|?gNf"
    "9l#YwdvwjW)[x;Ob@1[~<4SNvkI}^p]2/G{@r4 {8<{C=:aeK<"
    "!bQ+.WD:7/.m'80R~<G[89ttbcbg-3\"^}CXVl/8%ouNB|h6#cF"
    "yJhAM\\0;{3%Q',;I{dbZ/mV9ld=%&!,3Ip[UKD&~N|dXdq+FVj"
    "1B'BS,o`KB$:fnn@FQC8JhDOR.p%G)b!LhF6GwC}~Yxkq1C}8 "
    "1u~tttK?bE7-4C\"JW,RT~f:wOl-~|Fe;v&@9J-,BmvPKex~SQ2"
    "h%Wmi|E2N{m1d3_*A3tFbti;h*b_K~Y^|67|qj,SRDB(Ro_B7C"
    ":2$HhwZ()F4ISrhZ1*{5hN0.hf2X,W[#zRp?04_kWR74aP>z,l"
    "ESDr{zs|0ed;zKf`TNCB(kXPMq~dBrJC}sOoW:|l>R/t#;}.;."
    "9CN*3Nra~(i'19_}x@BZS8Q&O2gd\"`jX/d:iH<j/GJygN+.HF:"
    "s.h3v4GU_S>=92K%2>0L\\w[\\?d67{{B9g}&H)+BU|rz?3]{;=S"
    "t5]UNcjE`h`~Qj([iS~cN`t`k1P&.-*Bs!Fm<[B7&fL,ag>'T="
    "p(vu@,FSOVlG9O#pvD=It,+75'g:/b9h7:0n6jFq6rI%pl&xtM"
    "=~`NCkvfwS=t=,,Ifi5$:'beBem~~&Z}z?R!DyGFRvBpX4;-[8"
    "n)xfx'/|oWB<o:VUpb$iu\\76JyFNB1=(77}xVlxPZ1&P&ru#k\""
    "*q4m1v[i5#Fjq0'8%Ig\"@/L8>h;Jke H*mmMAeM^}S`SIrH`:7"
    "Ym4@L%./k\\\"erWI<jG/J\\5\\nTa-\" a>sl9*yIEPK}P8zWc:EnE"
    "p|JS3KM<y]`}We98$Pszhv7rr%Unye]U5vo|AN[YA\\t`XRN@IW"
    "#-%;s#G(y^KG- \"L8z7GI3PK0v5V3\\>E|/5ZO]}3+{E?)Qac%V"
    "K3bK<]Ev^]c:f$2!TlTfkf=k;S=g:5/52,x]#f],&W\"K5,0gzn"
    "P+vE*3vUg3R\"p6Hx-\\YLBpCu6Aq1{Z&db\"_P#o>l";

static_assert(sizeof(kCipherKeyTable) == kCipherKeyTableLength + 1);
