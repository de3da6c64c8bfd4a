-- A small library for the black-box runs, in SQL that PostgreSQL and SQLite both take.
-- The cases: a password equal to the card number, an empty one and a NULL one; chained collisions
-- (7 and 07: 7 is padded first, then 07 collides with it; 5 padded in pass 1, then 0000005 collides
-- in pass 7); a number with a padded twin (45 and 000000045); a trailing blank (12 ); numbers of
-- the full length, longer and empty; loans that follow their reader, loans without a reader, a
-- loan without a reader whose padded number is a reader's (777).
create table lib_people (pe_id varchar(20), pe_passwd varchar(20), pe_name varchar(40));
create table lib_jieshu (js_id integer, js_libcard varchar(20), js_book varchar(20));
insert into lib_people values ('7', '7', 'r01');
insert into lib_people values ('07', 'abc', 'r02');
insert into lib_people values ('123', '', 'r03 张三');
insert into lib_people values ('45', '45', 'r04');
insert into lib_people values ('000000045', 'twin', 'r05');
insert into lib_people values ('12 ', 'p6', 'r06');
insert into lib_people values ('123456789', '123456789', 'r07');
insert into lib_people values ('1234567890', 'x', 'r08');
insert into lib_people values ('', 'e', 'r09');
insert into lib_people values ('98765', null, 'r10');
insert into lib_people values ('5', '', 'r11');
insert into lib_people values ('0000005', 'q12', 'r12');
insert into lib_people values ('000000777', 'y', 'r13');
insert into lib_jieshu values (1, '7', 'b01');
insert into lib_jieshu values (2, '07', 'b02');
insert into lib_jieshu values (3, '45', 'b03');
insert into lib_jieshu values (4, '12', 'b04');
insert into lib_jieshu values (5, '4444', 'b05');
insert into lib_jieshu values (6, '123', 'b06');
insert into lib_jieshu values (7, '0000005', 'b07');
insert into lib_jieshu values (8, '1234567890', 'b08');
insert into lib_jieshu values (9, '', 'b09');
insert into lib_jieshu values (10, null, 'b10');
insert into lib_jieshu values (11, '98765', 'b11');
insert into lib_jieshu values (12, '5 ', 'b12');
insert into lib_jieshu values (13, '777', 'b13');
