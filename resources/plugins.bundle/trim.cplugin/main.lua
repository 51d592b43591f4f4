-- 除 ASCII 空白外，也去掉全角空格 (U+3000) 和不换行空格 (U+00A0)。
local wide = { "\227\128\128", "\194\160" }

-- 位置 i 开始的空白有几个字节（不是空白时为 0）
local function space_at(s, i)
  if s:sub(i, i):match("^%s$") then
    return 1
  end
  for _, w in ipairs(wide) do
    if s:sub(i, i + #w - 1) == w then
      return #w
    end
  end
  return 0
end

-- 在位置 j 结束的空白有几个字节（不是空白时为 0）
local function space_before(s, j)
  if s:sub(j, j):match("^%s$") then
    return 1
  end
  for _, w in ipairs(wide) do
    if j >= #w and s:sub(j - #w + 1, j) == w then
      return #w
    end
  end
  return 0
end

function main(text)
  local i, j = 1, #text
  while i <= j do
    local n = space_at(text, i)
    if n == 0 then break end
    i = i + n
  end
  while j >= i do
    local n = space_before(text, j)
    if n == 0 then break end
    j = j - n
  end
  return text:sub(i, j)
end
